// itemhost: asks ItemPlugin what it answers for item paths, calling it the way
// the host does, and prints the answer for a person (or as JSON).
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/ProductVersion.h"
#include "tools/itemhost/Explain.h"
#include "tools/common/PluginHost.h"
#include "tools/common/Print.h"
#include "tools/common/ResultText.h"
#include "tools/itemhost/Report.h"

namespace {

constexpr wchar_t kUsage[] =
    L"usage: itemhost [options] ITEM_PATH...\n"
    L"  Prints the plug-in's format information and, for each item path, its\n"
    L"  references and its date.\n"
    L"options:\n"
    L"  --com          activate the registered class through COM (fails when unregistered)\n"
    L"  --direct       load the DLL and ask its class object directly\n"
    L"                 (default: COM when registered, otherwise direct)\n"
    L"  --dll PATH     the DLL to load directly (default: ItemPlugin.dll beside itemhost)\n"
    L"  --hide-type3   call SetOption(3) first: children of type 3 are left out\n"
    L"  --json         print JSON instead of text\n"
    L"  --explain      for each path, the road of the request step by step as the\n"
    L"                 plug-in walks it (vault, views, data folder, cache file,\n"
    L"                 keys, reads, answer), without loading the plug-in and\n"
    L"                 without creating or writing anything; with --json, one\n"
    L"                 JSON document per path\n";

struct Options {
    Activation activation = Activation::Automatic;
    std::wstring dllPath = DefaultPluginPath();
    bool hideType3 = false;
    bool json = false;
    bool explain = false;
    std::vector<std::wstring> paths;
};


bool ParseArguments(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--com") {
            options.activation = Activation::Com;
        } else if (arg == L"--direct") {
            options.activation = Activation::Direct;
        } else if (arg == L"--dll" && i + 1 < argc) {
            options.dllPath = argv[++i];
            options.activation = Activation::Direct;
        } else if (arg == L"--hide-type3") {
            options.hideType3 = true;
        } else if (arg == L"--json") {
            options.json = true;
        } else if (arg == L"--explain") {
            options.explain = true;
        } else if (arg.rfind(L"--", 0) == 0) {
            return false;
        } else {
            options.paths.push_back(arg);
        }
    }
    return true;
}

// Exit status 0 when every path gave the plug-in a navigator, as for the plain run.
int Explain(const Options& options) {
    ExplainOptions explainOptions;
    explainOptions.hideType3 = options.hideType3;
    bool allAnswered = true;
    for (size_t i = 0; i < options.paths.size(); ++i) {
        const Json explanation = ExplainItem(options.paths[i], explainOptions);
        allAnswered = allAnswered && explanation.at("answer").at("navigator").at("result") == "0x00000000";
        if (options.json) {
            Print(JsonText(explanation));
        } else {
            Print((i ? L"\n" : L"") + ExplanationText(explanation));
        }
    }
    return allAnswered ? 0 : 1;
}

int Run(const Options& options) {
    if (options.explain) return Explain(options);
    PluginHost host;
    const HRESULT loaded = host.Load(options.activation, options.dllPath);
    if (FAILED(loaded)) {
        Print(L"itemhost: cannot obtain the format object: " + DescribeResult(loaded) + L"\n", stderr);
        return 2;
    }
    const FormatInfo format = [&] {
        FormatInfo info = AskFormat(host.Format());
        info.source = host.Source();
        return info;
    }();
    std::vector<ItemAnswer> items;
    bool allAnswered = true;
    for (const auto& path : options.paths) {
        items.push_back(AskItem(host.Format(), path, options.hideType3));
        allAnswered = allAnswered && SUCCEEDED(items.back().navigatorResult);
    }
    if (options.json) {
        Print(JsonText(FormatJson(format, items)));
    } else {
        Print(FormatText(format, items));
    }
    return allAnswered ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (PrintedProductVersion(argc, argv, L"itemhost")) return 0;
    Options options;
    if (!ParseArguments(argc, argv, options)) {
        Print(kUsage, stderr);
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    const int code = Run(options);
    CoUninitialize();
    return code;
}
