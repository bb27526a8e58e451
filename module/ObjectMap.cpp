#include "module/ObjectMap.h"

#include "ItemPlugin.h"
#include "module/ComObject.h"
#include "module/ItemPluginModule.h"
#include "module/Registrar.h"
#include "plugin/ItemFile.h"
#include "plugin/ItemFormat.h"
#include "plugin/ItemPreview.h"

namespace {

template <UINT ScriptId>
HRESULT UpdateRegistryFromScript(bool registerMode) noexcept {
    return ApplyRegistryScript(ScriptId, registerMode);
}

template <class T, UINT ScriptId>
constexpr ObjectMapEntry Entry(const CLSID& clsid) noexcept {
    return {&clsid, &UpdateRegistryFromScript<ScriptId>, &CClassFactory::Create, &CreateComInstance<T>};
}

// Registration walks the map in this order.
ObjectMapEntry g_objectMap[] = {
    Entry<CItemFile, 103>(CLSID_ItemFile),
    Entry<CItemFormat, 102>(CLSID_ItemFormat),
    Entry<CItemPreview, 104>(CLSID_ItemPreview),
};

ClassObjectRegistry g_classObjects(g_objectMap);

// Runs when the DLL is loaded, before its entry point, which refuses the load
// when this failed.
struct ClassObjectsStartup {
    ClassObjectsStartup() noexcept {
        if (!g_classObjects.Init()) g_moduleInitFailed = true;
    }
} g_classObjectsStartup;

}  // namespace

std::span<ObjectMapEntry> ObjectMap() noexcept { return g_objectMap; }

ClassObjectRegistry& ClassObjects() noexcept { return g_classObjects; }
