#pragma once
// The inspector's reports, for people and as JSON (shapes in the README).
#include <string>

#include "tools/itemcache/CacheInspection.h"

enum class Command { List, Show, Check };

std::wstring ReportText(Command command, const CacheReport& report, const InspectOptions& options);
std::string ReportJson(Command command, const CacheReport& report, const InspectOptions& options);

// The exit status: 2 when the file could not be opened; for check 1 when it
// found damage; for show 1 when the item is not in the cache; otherwise 0.
int ExitStatus(Command command, const CacheReport& report);
