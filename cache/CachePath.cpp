#include "cache/CachePath.h"

#include <rpc.h>

#include "cache/ItemCacheFile.h"
#include "common/UniqueResource.h"

namespace {

// The GUID as 36 lowercase hex digits in groups, no braces; empty on failure.
CString GuidText(const GUID& guid) {
    UniqueRpcWstr text;
    UUID uuid = guid;
    if (UuidToStringW(&uuid, text.Put()) != RPC_S_OK || !text) return {};
    return CString(reinterpret_cast<const wchar_t*>(text.Get())).substr(0, 36);
}

}  // namespace

ItemCacheLocation ItemCacheLocationFor(const CString& dataFolder, const CString& viewName, const GUID& vaultId) {
    ItemCacheLocation location;
    location.itemsFolder = dataFolder + L"Items";
    location.viewFolder = location.itemsFolder + L'\\' + viewName;
    location.file = location.viewFolder + L'\\' + GuidText(vaultId) + L"_vrsn_" +
                    std::to_wstring(CItemCacheFile::kFormatVersion) + L".Items";
    return location;
}
