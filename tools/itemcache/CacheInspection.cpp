#include "tools/itemcache/CacheInspection.h"

#include <algorithm>
#include <map>

#include "cache/CachePath.h"
#include "cache/ItemCacheFile.h"
#include "cache/ItemKeys.h"
#include "cache/RecordReader.h"
#include "cache/StorageChain.h"
#include "common/HostResults.h"
#include "common/RequestTrace.h"
#include "plugin/ItemFormat.h"
#include "plugin/ReferenceCodes.h"
#include "plugin/ReferenceList.h"
#include "settings/SettingsLight.h"
#include "settings/ViewIdentity.h"

namespace {

constexpr size_t kSmallestRecord = 4;     // a record whose version is below 1

RecordInfo DescribeRecord(RecordCursor& cursor) {
    RecordInfo info;
    info.offset = cursor.Offset();
    RecordCursor peek = cursor;
    std::int32_t value = 0;
    if (peek.Value(value)) {
        info.recordVersion = value;
        if (value >= 1 && peek.Value(value)) {
            info.nameBytes = value;
            if (peek.Value(value)) info.pathBytes = value;
        }
    }
    RecordView view;
    info.result = ParseRecord(cursor, view);
    info.itemType = view.itemType, info.state = view.state, info.aux1 = view.aux1, info.aux2 = view.aux2;
    info.ref1 = view.ref1, info.ref2 = view.ref2, info.ref3 = view.ref3, info.ref4 = view.ref4;
    info.linkType = view.linkType;
    info.timestamp = view.timestamp;
    info.timestampKind = view.timestampKind;
    info.name = StoredText(view.name);
    info.path = StoredText(view.path);
    info.bytes = cursor.Offset() - info.offset;
    if (FAILED(info.result)) {
        using record_detail::FitsField;
        const bool countsFit = !info.nameBytes || !info.pathBytes ||
                               (FitsField(*info.nameBytes, ItemObject::kNameChars) &&
                                FitsField(*info.pathBytes, ItemObject::kPathChars));
        info.problem = countsFit ? L"cut short" : L"byte counts exceed their fields";
    }
    return info;
}

std::wstring JoinPath(const std::vector<CString>& storages, const CString& name) {
    std::wstring out;
    for (const CString& storage : storages) out += storage + L"/";
    return out + name;
}

// Damage is what loses or changes an answer the plug-in gives: a record or
// list cut short, a count beyond its stream, byte counts beyond their fields,
// an element that cannot be read. What the plug-in never reads (elements of
// other writers, such as property-set streams, and bytes after a record or
// after the last child) is a note: the file is read as its writer meant.
void AddFinding(CacheReport& report, bool damage, const wchar_t* kind, std::wstring element, std::wstring item,
                std::wstring detail) {
    report.findings.push_back(Finding{damage, kind, std::move(element), std::move(item), std::move(detail)});
}

void ReadRecordStream(CacheFileReader& reader, ItemInfo& item) {
    StreamBytes bytes;
    item.recordRead = reader.ReadKey(item.key + L'I', bytes);
    if (FAILED(item.recordRead)) {
        item.initResult = MapStorageResult(item.recordRead);
        return;
    }
    item.recordStreamBytes = bytes.View().size();
    RecordCursor cursor(bytes.View());
    item.record = DescribeRecord(cursor);
    if (SUCCEEDED(item.record.result)) item.bytesAfterRecord = cursor.Remaining();
    // The navigator's own record: the same parser into the plug-in's ItemObject.
    ItemObject object;
    RecordCursor again(bytes.View());
    item.initResult = ParseRecord(again, object);
    if (SUCCEEDED(item.initResult)) item.hostDate = CItemFormat::ItemDate(object.timestamp, object.timestampKind);
}

void ReadChildrenStream(CacheFileReader& reader, ItemInfo& item, bool hideType3) {
    StreamBytes bytes;
    item.childrenRead = reader.ReadKey(item.key + L'C', bytes);
    // A host gets references only from a navigator, which needs the item record.
    const bool navigator = SUCCEEDED(item.initResult);
    item.referencesResult = navigator ? S_OK : item.initResult;
    item.referencesUnreadable = navigator;
    if (FAILED(item.childrenRead)) return;
    item.childrenStreamBytes = bytes.View().size();

    RecordCursor cursor(bytes.View());
    {
        RecordCursor peek = cursor;
        std::uint32_t skipped = 0, count = 0;
        if (peek.Value(skipped) && peek.Value(count)) {
            item.storedCount = count;
            item.countTooLarge = count > peek.Remaining() / kSmallestRecord;
        }
    }
    item.childrenResult = ParseChildList(cursor, [&](RecordCursor& records) {
        ChildInfo child;
        child.record = DescribeRecord(records);
        if (SUCCEEDED(child.record.result)) {
            child.shown = IsShownToHost(child.record.state, child.record.itemType, hideType3);
            if (child.record.state == kHiddenChildState) {
                child.hiddenBecause = L"state 3";
            } else if (!child.shown) {
                child.hiddenBecause = L"type 3 (--hide-type3)";
            }
        }
        item.children.push_back(std::move(child));
        return item.children.back().record.result;
    });
    if (SUCCEEDED(item.childrenResult)) item.bytesAfterChildren = cursor.Remaining();
    if (!navigator) return;

    // The host's array comes from the plug-in's own builder.
    ReferenceFilter filter;
    filter.dropType3 = hideType3;
    ReferenceRecord* records = nullptr;
    LONG count = 0;
    const HRESULT built = BuildReferenceRecords(bytes.View(), filter, &records, &count);
    if (built == ITEM_E_CACHEREAD) return;  // the host is told S_OK with no references
    item.referencesResult = built;
    if (FAILED(built)) return;
    item.referencesUnreadable = false;
    item.referenceCount = static_cast<size_t>(count);
    LONG next = 0;
    for (ChildInfo& child : item.children) {
        if (!child.shown || next >= count) continue;
        const ReferenceRecord& record = records[next++];
        child.host = HostReference(record);
    }
    FreeReferenceRecords(records, count);
}

void CheckItem(CacheReport& report, const ItemInfo& item) {
    const std::wstring element = item.key;
    if (!item.hasRecord) {
        AddFinding(report, false, L"children-without-record", item.key + L"C", item.name,
                   L"a children list without an item record: the plug-in answers 0x80040213 for the item");
    } else if (FAILED(item.recordRead)) {
        AddFinding(report, true, L"unreadable-stream", item.key + L"I", item.name, L"the item stream cannot be read");
    } else if (FAILED(item.record.result)) {
        AddFinding(report, true, item.record.problem == L"cut short" ? L"record-cut-short" : L"byte-counts-exceed-fields",
                   item.key + L"I", item.name,
                   L"item record " + item.record.problem + L" (stream of " + std::to_wstring(item.recordStreamBytes) +
                       L" bytes)");
    } else {
        if (item.bytesAfterRecord) {
            AddFinding(report, false, L"bytes-after-record", item.key + L"I", item.name,
                       std::to_wstring(item.bytesAfterRecord) + L" bytes after the item record");
        }
        if (item.record.recordVersion < 1) {
            AddFinding(report, false, L"record-version-below-1", item.key + L"I", item.name,
                       L"record version " + std::to_wstring(item.record.recordVersion) +
                           L": the item has no date and kind 0");
        }
    }
    if (!item.hasChildren) return;
    if (FAILED(item.childrenRead)) {
        AddFinding(report, true, L"unreadable-stream", item.key + L"C", item.name, L"the children stream cannot be read");
        return;
    }
    if (!item.storedCount) {
        AddFinding(report, true, L"record-cut-short", item.key + L"C", item.name,
                   L"children stream of " + std::to_wstring(item.childrenStreamBytes) + L" bytes has no count");
        return;
    }
    if (item.countTooLarge) {
        AddFinding(report, true, L"count-exceeds-stream", item.key + L"C", item.name,
                   L"stored count " + std::to_wstring(*item.storedCount) + L" is more than a stream of " +
                       std::to_wstring(item.childrenStreamBytes) + L" bytes can hold");
    }
    if (FAILED(item.childrenResult) && !item.children.empty()) {
        const RecordInfo& failed = item.children.back().record;
        const bool atEnd = failed.offset >= item.childrenStreamBytes;
        if (!(atEnd && item.countTooLarge)) {
            AddFinding(report, true, failed.problem == L"cut short" ? L"record-cut-short" : L"byte-counts-exceed-fields",
                       item.key + L"C", item.name,
                       L"child " + std::to_wstring(item.children.size()) + L" of " + std::to_wstring(*item.storedCount) +
                           L" at byte " + std::to_wstring(failed.offset) + L": " + failed.problem);
        }
    }
    if (item.bytesAfterChildren) {
        AddFinding(report, false, L"bytes-after-records", item.key + L"C", item.name,
                   std::to_wstring(item.bytesAfterChildren) + L" bytes after the last of " +
                       std::to_wstring(*item.storedCount) + L" children");
    }
}

void CheckHeader(CacheReport& report) {
    const CompoundHeader& header = report.header;
    if (FAILED(header.result)) {
        AddFinding(report, true, L"header", L"", L"",
                   L"the compound-file header is cut short (" + std::to_wstring(header.bytesRead) + L" of " +
                       std::to_wstring(CompoundHeader::kBytes) + L" bytes)");
    } else if (!header.Consistent()) {
        AddFinding(report, true, L"header", L"", L"",
                   L"version " + std::to_wstring(header.majorVersion) + L" with a sector shift of " +
                       std::to_wstring(header.sectorShift) + L" fits no compound-file layout");
    } else if (header.majorVersion == 3) {
        AddFinding(report, false, L"version-3", L"", L"",
                   L"version 3 with 512-byte sectors: the plug-in creates version 4 files but opens both");
    }
}

// Which item a stream belongs to, or a finding when it fits no key.
struct Keys {
    std::map<std::wstring, ItemInfo> items;
    bool header = false;
};

void Classify(CacheReport& report, Keys& keys, const CacheElement& element, bool check) {
    ++report.elements;
    const std::wstring where = JoinPath(element.storages, element.name);
    bool storagesFit = true;
    for (const CString& storage : element.storages) {
        storagesFit = storagesFit && storage.size() == kStorageNameUnits + 1 && storage.back() == L'F';
    }
    if (element.type == STGTY_STORAGE) {
        if (!check) return;
        if (storagesFit && !(element.name.size() == kStorageNameUnits + 1 && element.name.back() == L'F')) {
            AddFinding(report, false, L"stray-storage", where, L"",
                       L"a storage whose name fits no key (30 characters of a key and \"F\")");
        }
        if (FAILED(element.openResult)) {
            AddFinding(report, true, L"unreadable-storage", where, L"", L"the storage cannot be opened");
        } else if (element.emptyStorage) {
            AddFinding(report, false, L"empty-storage", where, L"", L"a storage left empty");
        }
        return;
    }
    if (!storagesFit) return;  // below a stray storage, already reported
    const bool leafFits = element.type == STGTY_STREAM && !element.name.empty() && element.name.back() == L'S' &&
                          (element.storages.empty() || element.name.size() >= 2);
    std::wstring key;
    for (const CString& storage : element.storages) key += storage.substr(0, storage.size() - 1);
    if (leafFits) key += element.name.substr(0, element.name.size() - 1);

    if (leafFits && element.storages.empty() && key == kHeaderKey) {
        keys.header = true;
        return;
    }
    const DecodedKey decoded = leafFits ? DecodeKey(key) : DecodedKey{};
    if (decoded.kind == KeyKind::Other || !decoded.wellFormed) {
        if (check) {
            AddFinding(report, false, L"stray-stream", where, L"",
                       decoded.kind == KeyKind::Other
                           ? L"a stream whose name fits no key"
                           : L"a key the plug-in never forms (an escape outside the reserved list or a bare reserved character)");
        }
        return;
    }
    const std::wstring base = key.substr(0, key.size() - 1);
    ItemInfo& item = keys.items[base];
    item.key = base;
    item.name = decoded.name;
    item.fileName = decoded.name + kItemExtension;
    (decoded.kind == KeyKind::Item ? item.hasRecord : item.hasChildren) = true;
}

CacheFileReader::Options ReaderOptions(const InspectOptions& options) {
    CacheFileReader::Options reader;
    reader.lockTimeoutMs = options.lockTimeoutMs;
    return reader;
}

void Describe(CacheReport& report, const CacheFileReader& reader) {
    report.path = reader.Path();
    report.exists = reader.Exists();
    report.fileBytes = reader.FileBytes();
    report.lockHeld = reader.Lock().Held();
    report.lockTimedOut = reader.Lock().TimedOut();
    report.lockWaitMs = reader.Lock().WaitMs();
    report.header = reader.Header();
    report.openResult = reader.OpenResult();
}

}  // namespace

size_t CacheReport::DamageCount() const {
    return static_cast<size_t>(std::count_if(findings.begin(), findings.end(), [](const Finding& f) { return f.damage; }));
}

CacheReport InspectCache(const std::wstring& path, const InspectOptions& options, bool check) {
    CacheReport report;
    CacheFileReader reader(path, ReaderOptions(options));
    Describe(report, reader);
    if (!reader.IsOpen()) return report;
    if (check) CheckHeader(report);

    Keys keys;
    report.walkResult = reader.Walk([&](const CacheElement& element) { Classify(report, keys, element, check); });
    if (check && FAILED(report.walkResult)) {
        AddFinding(report, true, L"unreadable-directory", L"", L"", L"the file's directory cannot be walked to its end");
    }
    if (check && !keys.header) {
        AddFinding(report, false, L"no-header-stream", std::wstring(kHeaderKey) + L"S", L"",
                   L"no header stream (the plug-in never reads it)");
    }
    for (auto& [base, item] : keys.items) {
        if (item.hasRecord) {
            ReadRecordStream(reader, item);
        } else {
            item.initResult = ITEM_E_NOTFOUND;
        }
        ReadChildrenStream(reader, item, options.hideType3);
        if (check) CheckItem(report, item);
        report.items.push_back(std::move(item));
    }
    return report;
}

CacheReport InspectItem(const std::wstring& path, const std::wstring& name, const InspectOptions& options) {
    CacheReport report;
    CacheFileReader reader(path, ReaderOptions(options));
    Describe(report, reader);
    if (!reader.IsOpen()) return report;

    const std::wstring extension = kItemExtension;
    const bool hasExtension = name.size() >= extension.size() && name.compare(name.size() - extension.size(), extension.size(), extension) == 0;
    ItemInfo item;
    item.fileName = hasExtension ? name : name + extension;
    item.name = item.fileName.substr(0, item.fileName.size() - extension.size());
    // The plug-in's own keys; the shared base is the item key without its suffix.
    const CString itemKey = ItemKey(item.fileName);
    item.key = itemKey.substr(0, itemKey.size() - 1);
    ReadRecordStream(reader, item);
    item.hasRecord = SUCCEEDED(item.recordRead);
    ReadChildrenStream(reader, item, options.hideType3);
    item.hasChildren = SUCCEEDED(item.childrenRead);
    report.items.push_back(std::move(item));
    return report;
}

bool CachePathForVault(const std::wstring& guidText, std::wstring& path, std::wstring& message) {
    std::wstring braced = guidText;
    if (braced.empty() || braced.front() != L'{') braced = L"{" + braced + L"}";
    GUID vaultId{};
    if (FAILED(CLSIDFromString(braced.c_str(), &vaultId))) {
        message = L"not a GUID: " + guidText;
        return false;
    }
    // The plug-in's own road to the file, read-only: nothing is created.
    struct ViewFound final : RequestObserver {
        bool found = false;
        void ViewChosen(RequestCall, std::size_t, ViewReason reason, const CString*, const ViewIdentities*) override {
            found |= reason == ViewReason::Taken;
        }
    } view;
    ReadOnlyPolicy readOnly;
    RequestContext context{&view, &readOnly};
    ScopedRequest request(context);
    RefPtr<CItemCacheFile> file(new CItemCacheFile(vaultId));
    if (file->Path().empty()) {
        message = L"no per-user data folder is known (no application data folder)";
        return false;
    }
    path = file->Path();
    if (!view.found) message = L"no registered vault view carries this vault; the plug-in would look here";
    return true;
}

std::wstring OpenFailureText(const CacheReport& report) {
    if (report.lockTimedOut) return L"the cache lock is held by another process; try again later";
    if (!report.exists) return L"no such file (the plug-in would create an empty cache here)";
    if (report.header.bytesRead >= 8 && !report.header.signature) {
        return L"not a compound file";
    }
    switch (report.openResult) {
        case STG_E_FILEALREADYEXISTS:
        case STG_E_INVALIDHEADER:
            return L"not a compound file";
        case STG_E_SHAREVIOLATION:
        case STG_E_LOCKVIOLATION:
        case STG_E_ACCESSDENIED:
            return L"the file is in use by another process or cannot be read";
        case STG_E_READFAULT:
            return L"a damaged compound file: it ends before its sectors do";
        case STG_E_DOCFILECORRUPT:
        case STG_E_OLDFORMAT:
        case STG_E_OLDDLL:
            return L"a damaged or unknown compound file";
        default:
            return L"the compound file cannot be opened";
    }
}
