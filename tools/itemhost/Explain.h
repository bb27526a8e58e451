#pragma once
// itemhost --explain: the road of one request as the plug-in walks it, from the
// item path to the answer, told by the plug-in's own settings and cache code
// while it runs read-only. Nothing is created or written: where the plug-in
// would create something (the user's application key, a folder, the empty
// cache file) the explanation says so instead.
#include <string>

#include "tools/common/Json.h"

struct ExplainOptions {
    bool hideType3 = false;
};

// One ordered document: "path", then each step of the road in the order the
// road reaches it ("itemPath", "viewRoot", "views", "dataFolder", "cacheFile",
// "keys", "reads"; null where the road ended before it), "answer" and
// "wouldCreate". Each step object names the host call it was heard in.
Json ExplainItem(const std::wstring& path, ExplainOptions options = {});

// The same document for a person, as numbered steps.
std::wstring ExplanationText(const Json& explanation);
