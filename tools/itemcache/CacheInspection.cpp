#include "tools/itemcache/CacheInspection.h"

#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "cache/CacheMutex.h"
#include "cache/ItemCacheFile.h"
#include "cache/ItemKeys.h"
#include "cache/KeySplit.h"
#include "cache/RecordReader.h"
#include "cache/StorageChain.h"
#include "common/HostResults.h"
#include "common/RequestTrace.h"
#include "common/Result.h"
#include "common/UniqueResource.h"
#include "plugin/ItemFormat.h"
#include "plugin/ReferenceList.h"
#include "tools/common/CompoundHeaderFile.h"
#include "tools/common/DateText.h"
#include "tools/common/HostReference.h"

namespace {

// Storages below the root open exclusively, even for reading.
constexpr DWORD kReadElement = STGM_READ | STGM_SHARE_EXCLUSIVE;
// A damaged directory can nest storages without end.
constexpr size_t kMaxDepth = 64;
constexpr size_t kExtensionLength = std::size(kItemExtension) - 1;

std::wstring Num(unsigned long long value) { return std::to_wstring(value); }

const wchar_t* DamageText(RecordDamage damage) {
    return damage == RecordDamage::CutShort ? L"cut short" : L"byte counts exceed their fields";
}
const wchar_t* DamageKind(RecordDamage damage) {
    return damage == RecordDamage::CutShort ? L"record-cut-short" : L"byte-counts-exceed-fields";
}

Json RecordJson(const RecordView& r, RecordDamage damage, size_t offset, size_t bytes) {
    Json out = {{"result", ResultObject(ResultOf(damage))}, {"version", r.recordVersion}};
    if (r.nameBytes) out["nameBytes"] = *r.nameBytes;
    if (r.pathBytes) out["pathBytes"] = *r.pathBytes;
    out.update({{"name", Utf8(StoredText(r.name))}, {"path", Utf8(StoredText(r.path))}, {"ref1", r.ref1},
                {"ref2", r.ref2}, {"ref3", r.ref3}, {"ref4", r.ref4}, {"linkType", r.linkType},
                {"timestamp", Number(r.timestamp)}, {"date", Utf8(DateText(r.timestamp))},
                {"timestampKind", r.timestampKind}, {"itemType", r.itemType}, {"state", r.state}, {"aux1", r.aux1},
                {"aux2", r.aux2}, {"offset", offset}, {"bytes", bytes}});
    if (damage != RecordDamage::None) out["problem"] = Utf8(DamageText(damage));
    return out;
}

// Damage is what loses or changes an answer the plug-in gives: a record or
// list cut short, a count beyond its stream, byte counts beyond their fields,
// an element that cannot be read. What the plug-in never reads (elements of
// other writers, such as property-set streams, and bytes after a record or
// after the last child) is a note: the file is read as its writer meant.
class Inspection {
public:
    Inspection(StorageChain& chain, ULONGLONG fileBytes, const InspectOptions& options, bool check)
        : chain_(chain), fileBytes_(static_cast<size_t>(fileBytes)), options_(options), check_(check) {}

    Json findings = Json::array();
    size_t elements = 0;
    bool header = false;
    std::map<std::wstring, std::wstring> items;  // the names of the items the walk found, by key without its suffix
    HRESULT navigator = E_FAIL;            // the last item's

    void Find(bool damage, const wchar_t* kind, const std::wstring& element, const std::wstring& detail,
              const std::wstring& item = {}) {
        if (!check_) return;
        findings.push_back({{"severity", damage ? "damage" : "note"}, {"kind", Utf8(kind)}, {"element", Utf8(element)},
                            {"item", Utf8(item)}, {"detail", Utf8(detail)}});
    }

    // Visits every element below storage; keyed: every storage on the way is one of a key.
    HRESULT Walk(IStorage* storage, std::vector<CString>& names, bool keyed) {
        ComPtr<IEnumSTATSTG> listing;
        RETURN_IF_FAILED(storage->EnumElements(0, nullptr, 0, listing.Put()));
        HRESULT result = S_OK;
        for (;;) {
            STATSTG stat{};
            ULONG fetched = 0;
            const HRESULT next = listing->Next(1, &stat, &fetched);
            if (FAILED(next)) return next;
            if (next != S_OK || fetched != 1) break;
            const UniqueCoTaskMem nameBlock(stat.pwcsName);
            const CString name = StringOrEmpty(stat.pwcsName);
            std::wstring where;
            for (const CString& outer : names) where += outer + L"/";
            where += name;
            ++elements;
            if (stat.type != STGTY_STORAGE) {
                if (keyed) Stream(names, name, stat.type, where);
                continue;
            }
            const bool fits = keyed && IsKeyStorageName(name);
            if (keyed && !fits) {
                Find(false, L"stray-storage", where,
                     L"a storage whose name fits no key (30 characters of a key and \"F\")");
            }
            ComPtr<IStorage> inner;
            const HRESULT opened = names.size() < kMaxDepth
                                       ? storage->OpenStorage(name.c_str(), nullptr, kReadElement, nullptr, 0, inner.Put())
                                       : HRESULT_FROM_WIN32(ERROR_TOO_MANY_NAMES);
            if (FAILED(opened)) {
                Find(true, L"unreadable-storage", where, L"the storage cannot be opened");
            } else if (IsEmptyStorage(inner.Get())) {
                Find(false, L"empty-storage", where, L"a storage left empty");
            } else {
                names.push_back(name);
                if (const HRESULT walked = Walk(inner.Get(), names, fits); FAILED(walked)) result = walked;
                names.pop_back();
            }
        }
        return result;
    }

    // One item as stored and as the plug-in answers for it.
    Json Item(const std::wstring& fileName, bool withChildList) {
        const std::wstring name = fileName.substr(0, fileName.size() - kExtensionLength);
        const std::wstring itemKey = ItemKey(fileName), childrenKey = ChildrenKey(fileName);
        Json out = {{"name", Utf8(name)},
                    {"fileName", Utf8(fileName)},
                    {"key", Utf8(itemKey.substr(0, itemKey.size() - 1))},
                    {"wellFormed", true}};

        // The record as the navigator reads it.
        StreamBytes recordBytes;
        const HRESULT recordRead = Read(itemKey, recordBytes);
        const bool hasRecord = recordRead != ITEM_E_NOTFOUND;
        RecordCursor cursor(recordBytes.View());
        RecordView record;
        const RecordDamage damage = ParseRecordDamage(cursor, record);
        navigator = FAILED(recordRead) ? recordRead : ResultOf(damage);
        out["record"] = hasRecord && SUCCEEDED(recordRead) ? RecordJson(record, damage, 0, cursor.Offset()) : Json(nullptr);
        out["recordRead"] = ResultObject(recordRead);

        // The list as GetReferences reads it, in one pass: each child beside the record the host gets for it.
        StreamBytes listBytes;
        const HRESULT childrenRead = Read(childrenKey, listBytes);
        const bool hasChildren = childrenRead != ITEM_E_NOTFOUND;
        RecordCursor list(listBytes.View());
        ReferenceArray<TaskMemory> array;
        Json children = Json::array();
        std::vector<std::pair<size_t, size_t>> sent;  // a shown child and its record in the host's array
        std::optional<std::uint32_t> stored;
        size_t start = 0;  // where the next record begins
        ResultCode listed = kCacheReadFailed;
        if (SUCCEEDED(childrenRead)) {
            listed = array.Read(
                list, ReferenceFilter{options_.hideType3},
                [&](const RecordView& child, bool shown) {
                    Json entry = {{"index", children.size()},
                                  {"stored", RecordJson(child, RecordDamage::None, start, list.Offset() - start)},
                                  {"shown", shown}};
                    if (shown) {
                        sent.emplace_back(children.size(), array.Count());
                    } else {
                        const HiddenBy by = HiddenFromHost(child.state, child.itemType, options_.hideType3);
                        entry["hiddenBecause"] = by == HiddenBy::State ? "state 3" : "type 3 (--hide-type3)";
                    }
                    children.push_back(std::move(entry));
                    start = list.Offset();
                },
                [&](std::uint32_t count) {
                    stored = count;
                    start = list.Offset();
                });
        }
        // The record that ended the list early, parsed alone to show how far it got.
        std::optional<RecordDamage> ended;
        RecordCursor again(listBytes.View().subspan(start));
        RecordView child;
        if (IsFailure(listed) && stored && children.size() < *stored) {
            if (const RecordDamage damage = ParseRecordDamage(again, child); damage != RecordDamage::None) {
                ended = damage;
                children.push_back({{"index", children.size()},
                                    {"stored", RecordJson(child, damage, start, again.Offset())},
                                    {"shown", false}});
            }
        }

        const bool answered = SUCCEEDED(navigator);
        const HRESULT references = answered ? ReferencesAnswer(childrenRead, listed) : navigator;
        size_t referenceCount = 0;
        if (answered && SUCCEEDED(childrenRead) && !IsFailure(listed)) {
            referenceCount = array.Count();
            ReferenceRecord* records = array.Release();
            for (const auto& [child, index] : sent) children[child]["host"] = ToJson(HostReference(records[index]));
            FreeRecords(TaskMemory{}, records, referenceCount);
        }
        out["children"] = {{"read", ResultObject(childrenRead)}};
        if (SUCCEEDED(childrenRead)) {
            out["children"].update({{"stored", stored ? Json(*stored) : Json(nullptr)},
                                    {"readable", children.size() - (ended ? 1 : 0)},
                                    {"result", ResultObject(listed)}});
        }
        Json& plugin = out["plugin"] = {{"navigator", ResultObject(navigator)}};
        if (answered) plugin["date"] = Utf8(DateText(CItemFormat::ItemDate(record.timestamp, record.timestampKind)));
        plugin.update({{"references", ResultObject(references)},
                       {"referenceCount", referenceCount},
                       {"listUnreadable", answered && SUCCEEDED(references) && (FAILED(childrenRead) || IsFailure(listed))}});
        const size_t attempted = children.size();
        if (withChildList) out["childList"] = std::move(children);

        if (!hasRecord) {
            Find(false, L"children-without-record", childrenKey,
                 L"a children list without an item record: the plug-in answers 0x80040213 for the item", name);
        } else if (FAILED(recordRead)) {
            Find(true, L"unreadable-stream", itemKey, L"the item stream cannot be read", name);
        } else if (damage != RecordDamage::None) {
            Find(true, DamageKind(damage), itemKey,
                 std::wstring(L"item record ") + DamageText(damage) + L" (stream of " + Num(recordBytes.Bytes()) +
                     L" bytes)",
                 name);
        } else {
            if (cursor.Remaining()) {
                Find(false, L"bytes-after-record", itemKey, Num(cursor.Remaining()) + L" bytes after the item record",
                     name);
            }
            if (record.recordVersion < 1) {
                Find(false, L"record-version-below-1", itemKey,
                     L"record version " + std::to_wstring(record.recordVersion) + L": the item has no date and kind 0",
                     name);
            }
        }
        if (!hasChildren) return out;
        const std::wstring listSize = Num(listBytes.Bytes());
        if (FAILED(childrenRead)) {
            Find(true, L"unreadable-stream", childrenKey, L"the children stream cannot be read", name);
        } else if (!stored) {
            Find(true, L"record-cut-short", childrenKey, L"children stream of " + listSize + L" bytes has no count",
                 name);
        } else {
            const bool countTooLarge = MostChildren(*stored, listBytes.Bytes()) < *stored;
            if (countTooLarge) {
                Find(true, L"count-exceeds-stream", childrenKey,
                     L"stored count " + Num(*stored) + L" is more than a stream of " + listSize + L" bytes can hold",
                     name);
            }
            // A count beyond the stream already says why the list ends where the bytes do.
            if (ended && !(start >= listBytes.Bytes() && countTooLarge)) {
                Find(true, DamageKind(*ended), childrenKey,
                     L"child " + Num(attempted) + L" of " + Num(*stored) + L" at byte " + Num(start) + L": " +
                         DamageText(*ended),
                     name);
            }
            if (!IsFailure(listed) && list.Remaining()) {
                Find(false, L"bytes-after-records", childrenKey,
                     Num(list.Remaining()) + L" bytes after the last of " + Num(*stored) + L" children", name);
            }
        }
        return out;
    }

private:
    void Stream(const std::vector<CString>& names, const CString& name, DWORD type, const std::wstring& where) {
        UnitString key;
        const bool fits = type == STGTY_STREAM && JoinKey(names, name, key);
        if (fits && names.empty() && key == kHeaderKey) {
            header = true;
            return;
        }
        const DecodedKey decoded = fits ? DecodeKey(key) : DecodedKey{};
        if (decoded.kind == KeyKind::Other || !decoded.wellFormed) {
            Find(false, L"stray-stream", where,
                 decoded.kind == KeyKind::Other
                     ? L"a stream whose name fits no key"
                     : L"a key the plug-in never forms (an escape outside the reserved list or a bare reserved character)");
            return;
        }
        items[key.substr(0, key.size() - 1)] = decoded.name;
    }

    HRESULT Read(const std::wstring& key, StreamBytes& bytes) {
        ComPtr<IStream> stream;
        RETURN_IF_FAILED(chain_.OpenStream(key, stream));
        // No stream holds more than the file it lies in, whatever a damaged directory says.
        return bytes.Read(stream.Get(), fileBytes_);
    }

    StorageChain& chain_;
    size_t fileBytes_;
    InspectOptions options_;
    bool check_;
};

void CheckHeader(Inspection& inspection, const CompoundHeader& header) {
    if (FAILED(header.result)) {
        inspection.Find(true, L"header", L"",
                        L"the compound-file header is cut short (" + Num(header.bytesRead) + L" of " +
                            Num(CompoundHeader::kBytes) + L" bytes)");
    } else if (!header.Consistent()) {
        inspection.Find(true, L"header", L"",
                        L"version " + Num(header.majorVersion) + L" with a sector shift of " + Num(header.sectorShift) +
                            L" fits no compound-file layout");
    } else if (header.majorVersion == 3) {
        inspection.Find(false, L"version-3", L"",
                        L"version 3 with 512-byte sectors: the plug-in creates version 4 files but opens both");
    }
}

std::wstring OpenFailureText(bool timedOut, bool exists, const CompoundHeader& header, HRESULT opened) {
    if (timedOut) return L"the cache lock is held by another process; try again later";
    if (!exists) return L"no such file (the plug-in would create an empty cache here)";
    if (header.bytesRead >= 8 && !header.signature) return L"not a compound file";
    switch (opened) {
        case STG_E_FILEALREADYEXISTS: case STG_E_INVALIDHEADER: return L"not a compound file";
        case STG_E_SHAREVIOLATION: case STG_E_LOCKVIOLATION: case STG_E_ACCESSDENIED:
            return L"the file is in use by another process or cannot be read";
        case STG_E_READFAULT: return L"a damaged compound file: it ends before its sectors do";
        case STG_E_DOCFILECORRUPT: case STG_E_OLDFORMAT: case STG_E_OLDDLL: return L"a damaged or unknown compound file";
        default: return L"the compound file cannot be opened";
    }
}

const char* CommandName(Command command) {
    return command == Command::List ? "list" : command == Command::Show ? "show" : "check";
}

std::wstring Counted(size_t count, const wchar_t* one, const wchar_t* many) {
    return Num(count) + L" " + (count == 1 ? one : many);
}

}  // namespace

Json Inspect(Command command, const std::wstring& path, const std::wstring& name, const InspectOptions& options) {
    Json doc = {{"command", CommandName(command)}, {"file", Utf8(path)}};
    // The plug-in's cache lock, with a limit: a holder that is stuck must not keep the tool waiting.
    const CacheMutex lock(options.lockTimeoutMs);
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    const bool exists = !lock.TimedOut() &&
                        GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes) &&
                        !(attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    const ULONGLONG fileBytes =
        exists ? (static_cast<ULONGLONG>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow : 0;
    const CompoundHeader header = exists ? ReadCompoundHeader(path) : CompoundHeader{};
    // The plug-in's own open without write access: a missing file stays missing.
    std::optional<StorageChain> chain;
    const HRESULT opened = lock.TimedOut() ? HRESULT_FROM_WIN32(ERROR_TIMEOUT)
                           : exists        ? OpenStorageFile(path, true, chain)
                                           : STG_E_FILENOTFOUND;
    doc["exists"] = exists;
    doc["fileBytes"] = fileBytes;
    doc["lock"] = {{"held", lock.Held()}, {"timedOut", lock.TimedOut()}, {"waitMs", lock.WaitMs()}};
    doc["header"] = {{"result", ResultObject(header.result)}, {"bytesRead", header.bytesRead},
                     {"signature", header.signature},        {"majorVersion", header.majorVersion},
                     {"minorVersion", header.minorVersion},  {"sectorSize", header.SectorSize()},
                     {"sectorShift", header.sectorShift}};
    doc["open"] = ResultObject(opened);
    const std::wstring failure = OpenFailureText(lock.TimedOut(), exists, header, opened);
    if (!chain) doc["openFailure"] = Utf8(failure);
    if (command == Command::Show) doc["hideType3"] = options.hideType3;

    Json items = Json::array(), findings = Json::array();
    int status = 2;
    std::wstring summary = L"cannot open: " + failure;
    if (chain) {
        Inspection inspection(*chain, fileBytes, options, command == Command::Check);
        if (command == Command::Show) {
            items.push_back(inspection.Item(name.ends_with(kItemExtension) ? name : name + kItemExtension, true));
            status = FAILED(inspection.navigator) ? 1 : 0;
        } else {
            CheckHeader(inspection, header);
            std::vector<CString> names;
            if (FAILED(inspection.Walk(chain->Root(), names, true))) {
                inspection.Find(true, L"unreadable-directory", L"",
                                L"the file's directory cannot be walked to its end");
            }
            if (!inspection.header) {
                inspection.Find(false, L"no-header-stream", std::wstring(kHeaderKey) + L"S",
                                L"no header stream (the plug-in never reads it)");
            }
            for (const auto& [key, item] : inspection.items) items.push_back(inspection.Item(item + kItemExtension, false));
            doc["elements"] = inspection.elements;
            status = 0;
        }
        summary = Counted(items.size(), L"item", L"items");
        if (command == Command::Check) {
            size_t damage = 0;
            for (const Json& finding : inspection.findings) damage += finding.at("severity") == "damage";
            const size_t notes = inspection.findings.size() - damage;
            summary = (damage ? L"damaged: " : L"sound: ") + summary + L", " +
                      Counted(damage, L"damage finding", L"damage findings") + L", " + Counted(notes, L"note", L"notes");
            status = damage ? 1 : 0;
            findings = std::move(inspection.findings);
        }
    }
    doc["items"] = std::move(items);
    if (command == Command::Check) doc["findings"] = std::move(findings);
    doc["exitStatus"] = status;
    doc["summary"] = Utf8(summary);
    return doc;
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
