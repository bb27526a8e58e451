// The DLL's entry point and its COM exports. The module object and the class
// objects are set up by static initialisation, before DllMain runs.
#include <windows.h>
#include <unknwn.h>

#include "common/RequestTrace.h"
#include "module/ItemPluginModule.h"
#include "module/ObjectMap.h"
#include "module/RuntimeThreadStorage.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved) noexcept {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return g_moduleInitFailed ? FALSE : TRUE;
    case DLL_THREAD_DETACH:
        ReleaseRuntimeThreadStorage();
        break;
    case DLL_PROCESS_DETACH:
        // When the process is ending (reserved is set), the DLLs behind the cached
        // class objects and type information may already be gone: releasing into
        // them could crash the exit, and the process takes the memory anyway.
        if (reserved) break;
        // Unloaded by FreeLibrary: the reverse order of start-up, class objects
        // first, then the termination callbacks (cached type information).
        ClassObjects().Term();
        Module().Term();
        ReleaseRequestSlot();
        ReleaseAllRuntimeThreadStorage();
        break;
    default:
        break;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    return ClassObjects().GetClassObject(clsid, iid, out);
}

STDAPI DllCanUnloadNow() { return Module().LockCount() == 0 ? S_OK : S_FALSE; }
