#pragma once
// itemhost --explain: the road of one request as the plug-in walks it, from the
// item path to the answer, gathered with the plug-in's own settings and cache
// code in read-only mode. Nothing is created or written: where the plug-in
// would create something (the user's application key, a folder, the empty
// cache file) the explanation says so instead.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "settings/SettingsLight.h"
#include "settings/ViewIdentity.h"

struct IdentityReport {
    bool read = false;  // the key held a text
    std::wstring text;
    bool parsed = false;
    GUID guid{};
};

struct ViewRootReport {
    std::wstring folder;
    std::wstring iniPath;
    bool iniFound = false;
    IdentityReport viewId, vaultId;
};

// One registration subkey and what the lookup made of it.
struct ViewCandidate {
    ViewPlace place = ViewPlace::Machine;
    std::wstring name;
    bool opened = false;
    bool hasShellRoot = false;
    // Where "ShellRoot" was read (the user's registration of the name wins).
    bool rootRegistered = false;
    ViewPlace rootPlace = ViewPlace::User;
    DWORD rootType = REG_NONE;
    std::wstring rootStored, rootExpanded;
    ViewRootReport root;
    bool listed = false;   // a registered view: usable root naming both identities
    bool matches = false;  // its vault identity is the item's
    bool chosen = false;   // the first that matches: its name names the cache folder
    bool examined = false; // the lookup looked at its root (it stops at the first match)
    std::wstring verdict;
};

struct KeyReport {
    std::wstring key;
    std::vector<std::wstring> storages;  // outermost first
    std::wstring stream;
};

// One read of a record stream through its storages.
struct ReadReport {
    bool attempted = false;
    HRESULT openResult = S_OK;     // opening the storages and the stream, as the cache maps it
    unsigned long long streamBytes = 0;
    HRESULT parseResult = S_OK;
    HRESULT result = S_OK;         // what the plug-in's read returns
};

struct RecordReport {
    long recordVersion = 0;
    long itemType = 0, state = 0, ref1 = 0, ref2 = 0, ref3 = 0, ref4 = 0, linkType = 0, timestampKind = 0;
    double timestamp = 0.0;
    std::wstring name, path;
    bool shown = true;  // children only: the host receives it
};

struct ItemExplanation {
    std::wstring path;

    // 1. The item path.
    HRESULT pathResult = S_OK;
    int drive = -1;
    bool hasMarker = false;
    std::wstring viewRoot;
    std::wstring itemName;

    // 2. The view root's desktop.ini.
    ViewRootReport viewRootIni;
    bool vaultFound = false;
    GUID vaultId{};

    // 3. The registered views.
    bool userKeyWouldBeCreated = false;
    std::vector<ViewCandidate> views;
    bool viewFound = false;
    std::wstring viewName;
    bool registrationsKept = false;  // served from an earlier read of the unchanged registry
    bool viewCacheAgrees = true;     // the explanation is the cache's own answer
    unsigned long long viewCacheRegistrationReads = 0, viewCacheFolderReads = 0;

    // 4. The per-user data folder.
    DataFolderBase dataFolderBase = DataFolderBase::None;
    std::wstring dataFolderBaseFolder;
    std::wstring dataFolder;
    bool dataFolderExists = false;

    // 5. The cache file.
    std::wstring itemsFolder, viewFolder, cachePath;
    bool itemsFolderExists = false, viewFolderExists = false;
    bool cacheExists = false;
    bool cacheOpened = false;
    HRESULT cacheOpenResult = S_OK;
    int headerVersion = 0;
    unsigned long sectorSize = 0;
    double lockMilliseconds = -1.0;  // negative: the lock was not taken

    // 6. Keys; 7. reads.
    KeyReport itemKey, childrenKey;
    ReadReport itemRead, childrenRead;
    std::optional<RecordReport> item;
    std::vector<RecordReport> children;
    HRESULT childListResult = S_OK;

    // 8. The answer: CreateNavigator's result, then GetReferences'.
    HRESULT navigatorResult = S_OK;
    HRESULT referencesResult = S_OK;
    long referenceCount = 0;

    // What the plug-in would create on this road; nothing of it is created here.
    std::vector<std::wstring> wouldCreate;
};

struct ExplainOptions {
    bool hideType3 = false;
};

ItemExplanation ExplainItem(const std::wstring& path, ExplainOptions options = {});

std::wstring ExplanationText(const ItemExplanation& explanation);
// One JSON document; its shape is described in the README.
std::string ExplanationJson(const ItemExplanation& explanation);
