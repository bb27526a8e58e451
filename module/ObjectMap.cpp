#include "module/ObjectMap.h"

#include "ItemPlugin.h"
#include "module/ComObject.h"
#include "module/ItemPluginModule.h"
#include "plugin/ItemFile.h"
#include "plugin/ItemFormat.h"
#include "plugin/ItemPreview.h"

namespace {

template <class T>
constexpr ObjectMapEntry Entry(const CLSID& clsid, std::span<const registration::Row> rows) noexcept {
    return {&clsid, rows, &CClassFactory::Create, &CreateComInstance<T>};
}

// Registration walks the map in this order.
ObjectMapEntry g_objectMap[] = {
    Entry<CItemFile>(CLSID_ItemFile, registration::kItemFileRows),
    Entry<CItemFormat>(CLSID_ItemFormat, registration::kItemFormatRows),
    Entry<CItemPreview>(CLSID_ItemPreview, registration::kItemPreviewRows),
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
