#include "tools/itemhost/Explain.h"

#include <objbase.h>

#include "cache/CacheFileReader.h"
#include "cache/CachePath.h"
#include "cache/ItemKeys.h"
#include "cache/RecordReader.h"
#include "cache/StorageChain.h"
#include "common/HostResults.h"
#include "plugin/ItemFile.h"
#include "plugin/ReferenceCodes.h"
#include "plugin/ReferenceList.h"
#include "plugin/ReferenceRecord.h"
#include "settings/AppKey.h"
#include <algorithm>
#include <cstring>
#include "settings/VaultViewCache.h"

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

IdentityReport ReportOf(const IdentityText& read) {
    return IdentityReport{!read.text.empty(), read.text, read.parsed, read.guid};
}

// The desktop.ini of a folder, read as the plug-in reads it.
ViewRootReport ReadRoot(const CString& folder, ViewIdentities& ids) {
    ViewRootReport report;
    report.folder = folder;
    report.iniPath = ViewIniPath(folder);
    report.iniFound = Exists(report.iniPath);
    IdentityText view, vault;
    ids = ReadViewIdentities(folder, &view, &vault);
    report.viewId = ReportOf(view);
    report.vaultId = ReportOf(vault);
    return report;
}

// What the lookup makes of each registration, in the order it walks them.
void ConsiderViews(SettingsLight& settings, ItemExplanation& e) {
    for (const Registration& registration : settings.Registrations()) {
        ViewCandidate view;
        view.place = registration.place;
        view.name = registration.name;
        view.opened = registration.opened;
        view.hasShellRoot = registration.hasShellRoot;
        if (!view.opened) {
            view.verdict = L"passed over: the registration cannot be opened";
        } else if (!view.hasShellRoot) {
            view.verdict = L"passed over: no \"ShellRoot\" value, so no registered view";
        } else {
            const ViewRootRead root = settings.ReadViewRoot(registration.name.c_str());
            view.rootRegistered = root.registered;
            view.rootPlace = root.place;
            view.rootType = root.type;
            view.rootStored = root.stored;
            view.rootExpanded = root.root;
            ViewIdentities ids;
            if (!root.root.empty()) view.root = ReadRoot(root.root, ids);
            view.listed = !root.root.empty() && ids.Listed();
            view.matches = view.listed && ids.IsViewOf(e.vaultId);
            if (root.root.empty()) {
                view.verdict = L"passed over: its \"ShellRoot\" gives no folder (not a string, or empty)";
            } else if (!ids.hasView) {
                view.verdict = L"passed over: its desktop.ini has no valid \"ViewID\"";
            } else if (!ids.hasVault) {
                view.verdict = L"passed over: its desktop.ini has no valid \"VaultID\"";
            } else if (!view.matches) {
                view.verdict = L"passed over: a view of another vault";
            } else if (e.viewFound) {
                view.verdict = L"a view of this vault too, but an earlier one was taken";
            } else {
                view.verdict = L"taken: the first registered view of this vault";
                view.chosen = true;
                e.viewFound = true;
                e.viewName = registration.name;
            }
        }
        e.views.push_back(std::move(view));
    }
}

KeyReport KeyOf(const CString& key) {
    StoragePath slot;
    SplitKey(key, slot);
    KeyReport report;
    report.key = key;
    for (const CString& name : slot.names) report.storages.push_back(name);
    report.stream = slot.leafName;
    return report;
}

std::wstring StoredText(std::span<const std::byte> text) {
    std::wstring out(text.size() / 2, L'\0');
    std::memcpy(out.data(), text.data(), out.size() * 2);
    return out.substr(0, out.find(L'\0'));
}

template <class Record>
void FillNumbers(RecordReport& report, const Record& record) {
    report.itemType = record.itemType;
    report.state = record.state;
    report.ref1 = record.ref1;
    report.ref2 = record.ref2;
    report.ref3 = record.ref3;
    report.ref4 = record.ref4;
    report.linkType = record.linkType;
    report.timestamp = record.timestamp;
    report.timestampKind = record.timestampKind;
}

// The record version is the stream's first word; the parser only acts on it.
long RecordVersionAt(RecordCursor cursor) {
    std::int32_t version = 0;
    return cursor.Value(version) ? version : 0;
}

// Steps 6 and 7 of the road, and the answer: reads through the read-only reader.
void ReadItem(CacheFileReader& reader, ItemExplanation& e, ExplainOptions options) {
    e.itemRead.attempted = true;
    StreamBytes itemBytes;
    e.itemRead.openResult = reader.ReadKey(e.itemKey.key, itemBytes);
    e.itemRead.result = e.itemRead.openResult;
    if (SUCCEEDED(e.itemRead.openResult)) {
        e.itemRead.streamBytes = itemBytes.View().size();
        // The plug-in reads no more of an item stream than one record can take.
        const auto bytes = itemBytes.View().first(std::min(itemBytes.View().size(), kMaxRecordBytes));
        RecordCursor cursor(bytes);
        RefPtr<ItemObject> item(new ItemObject());
        RecordReport report;
        report.recordVersion = RecordVersionAt(cursor);
        e.itemRead.parseResult = ParseRecord(cursor, *item);
        e.itemRead.result = e.itemRead.parseResult;
        FillNumbers(report, *item);
        report.name = item->name;
        report.path = item->path;
        e.item = report;
    }
    e.navigatorResult = MapStorageResult(e.itemRead.result);
    // The host asks for references only from a navigator it received.
    if (FAILED(e.navigatorResult)) return;

    e.childrenRead.attempted = true;
    StreamBytes childBytes;
    e.childrenRead.openResult = reader.ReadKey(e.childrenKey.key, childBytes);
    e.childrenRead.result = e.childrenRead.openResult;
    e.referencesResult = S_OK;
    if (FAILED(e.childrenRead.openResult)) return;  // no list: no references, and no error for the host
    e.childrenRead.streamBytes = childBytes.View().size();

    RecordCursor cursor(childBytes.View());
    e.childListResult = ParseChildList(cursor, [&](RecordCursor& records) {
        RecordReport report;
        report.recordVersion = RecordVersionAt(records);
        RecordView child;
        const HRESULT hr = ParseRecord(records, child);
        if (FAILED(hr)) return hr;
        FillNumbers(report, child);
        report.name = StoredText(child.name);
        report.path = StoredText(child.path);
        report.shown = IsShownToHost(child.state, child.itemType, options.hideType3);
        e.children.push_back(std::move(report));
        return hr;
    });
    e.childrenRead.parseResult = e.childListResult;
    e.childrenRead.result = e.childListResult;

    // The host's records come from the plug-in's own builder.
    ReferenceRecord* records = nullptr;
    LONG count = 0;
    ReferenceFilter filter;
    filter.dropType3 = options.hideType3;
    const HRESULT built = BuildReferenceRecords(childBytes.View(), filter, &records, &count);
    if (SUCCEEDED(built)) {
        e.referenceCount = count;
        FreeReferenceRecords(records, count);
    } else if (built != ITEM_E_CACHEREAD) {
        e.referencesResult = built;
    }
}

}  // namespace

ItemExplanation ExplainItem(const std::wstring& path, ExplainOptions options) {
    ItemExplanation e;
    e.path = path;
    e.navigatorResult = ITEM_E_INVALIDNAME;
    e.referencesResult = E_NOTIMPL;  // not asked: the host never received a navigator

    // 1. The item path.
    ItemPathParts parts;
    e.pathResult = CItemFile::SplitPath(path, parts);
    e.drive = parts.drive;
    e.hasMarker = parts.drive != -1 && SUCCEEDED(e.pathResult);
    e.itemName = CItemFile::ItemName(path);
    if (FAILED(e.pathResult)) {
        e.navigatorResult = e.pathResult;
        return e;
    }
    e.viewRoot = parts.viewRoot;

    // 2. The view root's desktop.ini gives the vault.
    ViewIdentities rootIds;
    e.viewRootIni = ReadRoot(parts.viewRoot, rootIds);
    e.vaultFound = rootIds.hasVault;
    e.vaultId = rootIds.vault;
    if (!e.vaultFound) return e;

    // 3. The registered views give the vault's view name.
    SettingsLight settings(SettingsAccess::ReadOnly);
    e.userKeyWouldBeCreated = settings.UserKeyWouldBeCreated();
    if (e.userKeyWouldBeCreated) e.wouldCreate.push_back(std::wstring(L"HKCU\\") + kAppKeyPath);
    ConsiderViews(settings, e);
    CString cachedName;
    const bool cachedFound = ProcessVaultViews().FindVaultName(settings, e.vaultId, cachedName);
    e.viewCacheAgrees = cachedFound == e.viewFound && (!cachedFound || cachedName == e.viewName);
    const VaultViewCache::Reads reads = ProcessVaultViews().ReadCounts();
    e.viewCacheRegistrationReads = reads.registrations;
    e.viewCacheFolderReads = reads.folders;

    // 4. The per-user data folder.
    CString dataFolder, base;
    FindDataFolder(dataFolder, &base, &e.dataFolderBase, false);
    e.dataFolderBaseFolder = base;
    e.dataFolder = dataFolder;
    if (dataFolder.empty()) {
        e.navigatorResult = ITEM_E_CACHEREAD;  // no place for a cache file
        return e;
    }
    e.dataFolderExists = Exists(dataFolder + L".");
    if (!e.dataFolderExists) e.wouldCreate.push_back(dataFolder);

    // 5. The cache file, under the cache lock.
    const ItemCacheLocation location = ItemCacheLocationFor(dataFolder, e.viewName, e.vaultId);
    e.itemsFolder = location.itemsFolder;
    e.viewFolder = location.viewFolder;
    e.cachePath = location.file;
    e.itemsFolderExists = Exists(e.itemsFolder);
    e.viewFolderExists = Exists(e.viewFolder);
    if (!e.itemsFolderExists) e.wouldCreate.push_back(e.itemsFolder);
    if (!e.viewFolderExists) e.wouldCreate.push_back(e.viewFolder);
    e.itemKey = KeyOf(ItemKey(e.itemName));
    e.childrenKey = KeyOf(ChildrenKey(e.itemName));

    CacheFileReader reader(location.file);
    e.lockMilliseconds = reader.Lock().Held() ? static_cast<double>(reader.Lock().WaitMs()) : -1.0;
    e.cacheExists = reader.Exists();
    e.cacheOpened = reader.IsOpen();
    e.cacheOpenResult = reader.OpenResult();
    if (SUCCEEDED(reader.Header().result) && reader.Header().signature) {
        e.headerVersion = reader.Header().majorVersion;
        e.sectorSize = reader.Header().SectorSize();
    }
    if (!e.cacheExists) {
        // The plug-in creates the file with its header stream only: the item is not in it.
        e.wouldCreate.push_back(e.cachePath + L" (an empty cache: its header stream only)");
        e.navigatorResult = ITEM_E_NOTFOUND;
        return e;
    }
    // An unopened file makes every read answer E_FAIL, which the lookup maps.
    ReadItem(reader, e, options);
    return e;
}
