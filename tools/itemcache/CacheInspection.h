#pragma once
// What an item cache file holds and what the plug-in would answer from it, as
// one JSON document (shapes in the README). The file is read under the cache
// lock through the plug-in's own read-only open, key rules, record parser and
// reference builder; nothing in it is changed.
#include <windows.h>

#include <string>

#include "tools/common/Json.h"

enum class Command { List, Show, Check };

struct InspectOptions {
    bool hideType3 = false;  // as after SetOption(3)
    DWORD lockTimeoutMs = 30000;
};

// list and check: every item of the file (check adds "findings"); show: the
// item name, its file name ("Bracket.<item>") or that without the extension.
// "exitStatus": 2 when the file could not be opened; for check 1 when it found
// damage; for show 1 when the item is not in the cache; otherwise 0.
Json Inspect(Command command, const std::wstring& path, const std::wstring& name, const InspectOptions& options);

// The document for people.
std::wstring ReportText(const Json& report);

// The plug-in's cache file for a vault GUID ("{...}" or bare), found as the
// plug-in finds it but creating no folder. False with a message when it cannot be formed.
bool CachePathForVault(const std::wstring& guidText, std::wstring& path, std::wstring& message);
