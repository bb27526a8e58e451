#pragma once
// What an item cache file holds and what the plug-in would answer from it, read
// through CacheFileReader (read-only, under the cache lock) and the plug-in's own
// key rules, record parser and host filters.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cache/CacheFileReader.h"
#include "tools/common/HostReference.h"

// One stored record, as the record parser reads it.
struct RecordInfo {
    HRESULT result = E_FAIL;  // ParseRecord's: S_OK or 0x80040228
    std::int32_t recordVersion = 0;
    std::optional<std::int32_t> nameBytes, pathBytes;  // when the record reached them
    std::int32_t itemType = -1, state = -1, aux1 = -1, aux2 = -1;
    std::int32_t ref1 = -1, ref2 = -1, ref3 = -1, ref4 = -1, linkType = -1;
    double timestamp = -1.0;
    std::int32_t timestampKind = 0;
    std::wstring name, path;  // up to the first NUL, as the host receives them
    size_t offset = 0, bytes = 0;  // where the record lies in its stream, and its length
    std::wstring problem;          // why it failed: "cut short", "byte counts exceed their fields"
};

// What the host is given for one shown child: HostReference.

struct ChildInfo {
    RecordInfo record;
    bool shown = false;
    std::wstring hiddenBecause;       // "state 3", "type 3 (--hide-type3)"
    std::optional<HostReference> host;  // when shown and the host receives the list
};

struct ItemInfo {
    std::wstring name;      // the item's name for people: escapes turned back
    std::wstring fileName;  // name + ".<item>": what the plug-in is asked for
    std::wstring key;       // the item key as stored (split storages joined)
    bool wellFormed = true; // false: a key the plug-in can never ask for
    bool hasRecord = false, hasChildren = false;

    HRESULT recordRead = E_FAIL;  // reading the item stream (MapStorageResult)
    ULONGLONG recordStreamBytes = 0;
    RecordInfo record;
    size_t bytesAfterRecord = 0;

    HRESULT childrenRead = E_FAIL;  // reading the children stream
    ULONGLONG childrenStreamBytes = 0;
    HRESULT childrenResult = E_FAIL;  // the list as the plug-in parses it
    std::optional<std::uint32_t> storedCount;
    std::vector<ChildInfo> children;  // the records that could be read
    size_t bytesAfterChildren = 0;
    bool countTooLarge = false;  // the stream cannot hold the stored count

    // What the plug-in answers for the item path.
    HRESULT initResult = E_FAIL;       // CreateNavigator: S_OK, 0x80040213, 0x80040228 ...
    double hostDate = 0.0;             // GetProperty(1), when initResult succeeded
    HRESULT referencesResult = E_FAIL; // GetReferences
    size_t referenceCount = 0;
    bool referencesUnreadable = false; // S_OK with no references because the list is damaged or missing
};

struct Finding {
    bool damage = true;  // false: worth knowing, no damage
    std::wstring kind;   // a stable word: see the README
    std::wstring element;  // the element's path: storage names and its own, joined by '/'
    std::wstring item;     // the item's name, when it concerns one
    std::wstring detail;
};

struct CacheReport {
    std::wstring path;
    bool exists = false;
    ULONGLONG fileBytes = 0;
    bool lockHeld = false, lockTimedOut = false;
    DWORD lockWaitMs = 0;
    CompoundHeader header;
    HRESULT openResult = E_FAIL;
    HRESULT walkResult = S_OK;
    std::vector<ItemInfo> items;     // in the order of their keys
    std::vector<Finding> findings;   // check only
    size_t elements = 0;

    bool Opened() const { return SUCCEEDED(openResult); }
    size_t DamageCount() const;
};

struct InspectOptions {
    bool hideType3 = false;        // as after SetOption(3)
    DWORD lockTimeoutMs = 30000;
};

// Reads every item of the file (list, check). Findings are filled only when
// check is set.
CacheReport InspectCache(const std::wstring& path, const InspectOptions& options, bool check);
// Reads one item: name is its file name ("Bracket.<item>") or its name without
// the extension ("Bracket").
CacheReport InspectItem(const std::wstring& path, const std::wstring& name, const InspectOptions& options);

// The plug-in's cache file for a vault GUID ("{...}" or bare), found as the
// plug-in finds it but creating no folder. False with a message when it cannot be formed.
bool CachePathForVault(const std::wstring& guidText, std::wstring& path, std::wstring& message);

// A sentence for a failed open: "not a compound file", "in use by another process" ...
std::wstring OpenFailureText(const CacheReport& report);
