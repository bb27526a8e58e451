// DllRegisterServer and DllUnregisterServer: the AppID, the classes of the
// object map and the type library, always for the whole machine.
#include <windows.h>
#include <oleauto.h>

#include "common/ComPtr.h"
#include "common/Result.h"
#include "common/UniqueResource.h"
#include "module/ObjectMap.h"
#include "module/Registrar.h"

namespace {

constexpr UINT kAppIdScript = 101;

// The scripts are ANSI text read in the thread's code page: registration must
// not depend on the locale a caller happens to have set on its thread.
class SystemLocaleScope {
public:
    SystemLocaleScope() noexcept : saved_(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
    SystemLocaleScope(const SystemLocaleScope&) = delete;
    SystemLocaleScope& operator=(const SystemLocaleScope&) = delete;
    ~SystemLocaleScope() { SetThreadLocale(saved_); }

private:
    LCID saved_;
};

HRESULT ApplyAppIdScript(bool registerMode) {
    ScriptReplacements extra;
    extra.Add(L"APPID", kItemPluginAppId);
    return ApplyRegistryScriptWithReplacements(kAppIdScript, registerMode, extra);
}

HRESULT UpdateClasses(bool registerMode) {
    for (auto& entry : ObjectMap()) {
        if (entry.updateRegistry) RETURN_IF_FAILED(entry.updateRegistry(registerMode));
    }
    return S_OK;
}

// The library from the DLL's TYPELIB resource, else from the ".tlb" file beside it.
HRESULT LoadOwnTypeLib(ComPtr<ITypeLib>& library, CString& loadedFrom) {
    CString path;
    RETURN_IF_FAILED(GetThisModulePath(path));
    if (SUCCEEDED(LoadTypeLib(path.c_str(), library.Put()))) {
        loadedFrom = std::move(path);
        return S_OK;
    }
    const size_t dot = path.rfind(L'.');
    const size_t slash = path.rfind(L'\\');
    if (dot != CString::npos && (slash == CString::npos || dot > slash)) path.resize(dot);
    path += L".tlb";
    if (path.size() >= MAX_PATH) return E_FAIL;
    RETURN_IF_FAILED(LoadTypeLib(path.c_str(), library.Put()));
    loadedFrom = std::move(path);
    return S_OK;
}

HRESULT RegisterOwnTypeLib() {
    ComPtr<ITypeLib> library;
    CString path;
    RETURN_IF_FAILED(LoadOwnTypeLib(library, path));

    CString helpDir;
    UniqueBstr helpFile;
    if (SUCCEEDED(library->GetDocumentation(-1, nullptr, nullptr, nullptr, helpFile.Put())) && helpFile &&
        helpFile.Get()[0] != L'\0') {
        helpDir = helpFile.Get();
        const size_t separator = helpDir.find_last_of(L"\\/:");
        helpDir.resize(separator == CString::npos ? 0 : separator + 1);
    }
    return RegisterTypeLib(library.Get(), const_cast<OLECHAR*>(path.c_str()),
                           helpDir.empty() ? nullptr : const_cast<OLECHAR*>(helpDir.c_str()));
}

HRESULT UnregisterOwnTypeLib() {
    ComPtr<ITypeLib> library;
    CString path;
    RETURN_IF_FAILED(LoadOwnTypeLib(library, path));
    TLIBATTR* attributes = nullptr;
    RETURN_IF_FAILED(library->GetLibAttr(&attributes));
    const HRESULT hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                                         attributes->lcid, attributes->syskind);
    library->ReleaseTLibAttr(attributes);
    return hr;
}

}  // namespace

STDAPI DllRegisterServer() try {
    SystemLocaleScope locale;
    RETURN_IF_FAILED(ApplyAppIdScript(true));
    RETURN_IF_FAILED(UpdateClasses(true));
    return RegisterOwnTypeLib();
}
CATCH_RETURN()

// The first failure ends unregistration: what the later steps remove stays.
STDAPI DllUnregisterServer() try {
    SystemLocaleScope locale;
    RETURN_IF_FAILED(UpdateClasses(false));
    RETURN_IF_FAILED(UnregisterOwnTypeLib());
    return ApplyAppIdScript(false);
}
CATCH_RETURN()
