#include "tools/itemhost/Explain.h"

#include <objbase.h>

#include <algorithm>
#include <cstring>

#include "tools/common/CompoundHeaderFile.h"
#include "cache/CachePath.h"
#include "cache/ItemObject.h"
#include "cache/RecordReader.h"
#include "common/ComPtr.h"
#include "common/HostResults.h"
#include "common/RequestTrace.h"
#include "common/UniqueResource.h"
#include "module/ComObject.h"
#include "plugin/ItemFormat.h"
#include "plugin/ReferenceRecord.h"
#include "settings/AppKey.h"
#include "settings/VaultViewCache.h"

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

IdentityReport ReportOf(const IdentityText& read) {
    return IdentityReport{!read.text.empty(), read.text, read.parsed, read.guid};
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

// What the steps of the plug-in's own request tell, written into an explanation.
class Listener final : public RequestObserver {
public:
    explicit Listener(ItemExplanation& e) : e_(e) {}

    void ItemPath(int drive, bool marker, const CString& viewRoot, const CString& itemName, HRESULT result) override {
        e_.pathResult = result;
        e_.drive = drive;
        e_.hasMarker = marker;
        e_.itemName = itemName;
        if (SUCCEEDED(result)) e_.viewRoot = viewRoot;
    }

    void DesktopIni(const CString& folder, const CString& iniPath, bool found, const IdentityText& view,
                    const IdentityText& vault, bool /*kept*/) override {
        lastRoot_ = ViewRootReport{folder, iniPath, found, ReportOf(view), ReportOf(vault)};
        // The first desktop.ini of the road is the item path's view root.
        if (!rootSeen_) {
            rootSeen_ = true;
            e_.viewRootIni = lastRoot_;
            e_.vaultFound = vault.parsed;
            e_.vaultId = vault.guid;
        }
    }

    // GetReferences walks the road of CreateNavigator again; its first walk tells it.
    void Registrations(const std::vector<RegisteredView>& registrations, bool kept) override {
        if (++lookups_ > 1) return;
        e_.registrationsKept = kept;
        e_.views.clear();
        for (const RegisteredView& met : registrations) {
            ViewCandidate view;
            view.place = met.registration.place;
            view.name = met.registration.name;
            view.opened = met.registration.opened;
            view.hasShellRoot = met.registration.hasShellRoot;
            view.rootRegistered = met.root.registered;
            view.rootPlace = met.root.place;
            view.rootType = met.root.type;
            view.rootStored = met.root.stored;
            view.rootExpanded = met.root.root;
            if (!view.opened) {
                view.verdict = L"passed over: the registration cannot be opened";
            } else if (!view.hasShellRoot) {
                view.verdict = L"passed over: no \"ShellRoot\" value, so no registered view";
            } else {
                view.verdict = L"not examined: the lookup ended at an earlier view of this vault";
            }
            e_.views.push_back(std::move(view));
        }
    }

    void ViewExamined(std::size_t index, const CString& root, const ViewIdentities& ids, bool taken) override {
        if (lookups_ > 1 || index >= e_.views.size()) return;
        ViewCandidate& view = e_.views[index];
        view.examined = true;
        view.rootExpanded = root;
        if (!root.empty()) view.root = lastRoot_;
        view.listed = ids.Listed();
        view.matches = taken;
        view.chosen = taken;
        if (root.empty()) {
            view.verdict = L"passed over: its \"ShellRoot\" gives no folder (not a string, or empty)";
        } else if (!ids.hasView) {
            view.verdict = L"passed over: its desktop.ini has no valid \"ViewID\"";
        } else if (!ids.hasVault) {
            view.verdict = L"passed over: its desktop.ini has no valid \"VaultID\"";
        } else if (!taken) {
            view.verdict = L"passed over: a view of another vault";
        } else {
            view.verdict = L"taken: the first registered view of this vault";
            e_.viewFound = true;
            e_.viewName = view.name;
        }
    }

    void DataFolder(DataFolderBase source, const CString& base, const CString& folder, bool existed,
                    bool /*kept*/) override {
        if (dataFolderSeen_) return;
        dataFolderSeen_ = true;
        e_.dataFolderBase = source;
        e_.dataFolderBaseFolder = base;
        e_.dataFolder = source == DataFolderBase::None ? CString() : folder;
        e_.dataFolderExists = existed;
    }

    void CacheLocation(const ItemCacheLocation& location) override {
        if (++opens_ > 1) return;
        e_.itemsFolder = location.itemsFolder;
        e_.viewFolder = location.viewFolder;
        e_.cachePath = location.file;
    }

    void CacheLock(bool held, DWORD waitMs) override {
        if (opens_ > 1) return;
        e_.lockMilliseconds = held ? static_cast<double>(waitMs) : -1.0;
    }

    void CacheOpen(bool existed, HRESULT result) override {
        if (opens_ > 1) return;
        e_.cacheExists = existed;
        e_.cacheOpenResult = result;
        e_.cacheOpened = existed && SUCCEEDED(result);
    }

    void RecordStream(bool children, const CString& key, const std::vector<CString>& storages, const CString& stream,
                      HRESULT openResult, std::size_t bytes) override {
        KeyReport& keyReport = children ? e_.childrenKey : e_.itemKey;
        keyReport.key = key;
        keyReport.storages.assign(storages.begin(), storages.end());
        keyReport.stream = stream;
        ReadReport& read = children ? e_.childrenRead : e_.itemRead;
        read.attempted = true;
        read.openResult = openResult;
        read.result = openResult;
        read.streamBytes = bytes;
    }

    void ItemRecord(std::span<const std::byte> bytes, const ItemObject& item, HRESULT result) override {
        RecordReport report;
        std::int32_t version = 0;
        if (bytes.size() >= sizeof(version)) std::memcpy(&version, bytes.data(), sizeof(version));
        report.recordVersion = version;
        FillNumbers(report, item);
        report.name = item.name;
        report.path = item.path;
        e_.item = report;
        e_.itemRead.parseResult = result;
        e_.itemRead.result = result;
    }

    void Child(const RecordView& child, bool shown) override {
        RecordReport report;
        report.recordVersion = child.recordVersion;
        FillNumbers(report, child);
        report.name = StoredText(child.name);
        report.path = StoredText(child.path);
        report.shown = shown;
        e_.children.push_back(std::move(report));
    }

    void ChildList(HRESULT result) override {
        e_.childListResult = result;
        e_.childrenRead.parseResult = result;
        e_.childrenRead.result = result;
    }

    void WouldChange(const CString& what) override {
        if (std::find(e_.wouldCreate.begin(), e_.wouldCreate.end(), what) != e_.wouldCreate.end()) return;
        if (what.rfind(L"HKCU\\", 0) == 0) e_.userKeyWouldBeCreated = true;
        e_.wouldCreate.push_back(what);
    }

private:
    ItemExplanation& e_;
    bool rootSeen_ = false;
    bool dataFolderSeen_ = false;
    int lookups_ = 0;
    int opens_ = 0;
    ViewRootReport lastRoot_;
};

}  // namespace

ItemExplanation ExplainItem(const std::wstring& path, ExplainOptions options) {
    ItemExplanation e;
    e.path = path;
    e.navigatorResult = ITEM_E_INVALIDNAME;
    e.referencesResult = E_NOTIMPL;  // not asked: the host never received a navigator

    // The host's own calls, on the plug-in's own road, told to the listener;
    // the read-only policy keeps the road from creating anything.
    Listener listener(e);
    const RequestContext context{&listener, true};
    {
        ScopedRequest request(context);
        ComPtr<IPlxFileFormat> format;
        e.navigatorResult = CreateComInstance<CItemFormat>(nullptr, IID_IPlxFileFormat, format.PutVoid());
        if (SUCCEEDED(e.navigatorResult)) {
            UniqueBstr bstr(SysAllocStringLen(path.data(), static_cast<UINT>(path.size())));
            ComPtr<IPlxFileNavigator> navigator;
            e.navigatorResult = format->CreateNavigator(bstr.Get(), 0, navigator.Put());
            if (SUCCEEDED(e.navigatorResult)) {
                if (options.hideType3) navigator->SetOption(3);
                ReferenceRecord* records = nullptr;
                LONG count = 0;
                e.referencesResult = navigator->GetReferences(0, &count, &records);
                if (SUCCEEDED(e.referencesResult) && records) {
                    e.referenceCount = count;
                    FreeReferenceRecords(records, count);
                }
            }
        }
    }

    // What the road does not ask but an engineer wants to see beside it.
    const VaultViewCache::Reads reads = ProcessVaultViews().ReadCounts();
    e.viewCacheRegistrationReads = reads.registrations;
    e.viewCacheFolderReads = reads.folders;
    if (!e.itemsFolder.empty()) {
        e.itemsFolderExists = Exists(e.itemsFolder);
        e.viewFolderExists = Exists(e.viewFolder);
    }
    if (e.cacheExists) {
        const CompoundHeader header = ReadCompoundHeader(e.cachePath);
        if (SUCCEEDED(header.result) && header.signature) {
            e.headerVersion = header.majorVersion;
            e.sectorSize = header.SectorSize();
        }
    }
    return e;
}
