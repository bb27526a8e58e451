// itemcache: shows what an item cache file holds and what the plug-in would
// answer from it, without changing a byte of it.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "common/ProductVersion.h"
#include "common/UniqueResource.h"
#include "tools/common/Print.h"
#include "tools/itemcache/CacheInspection.h"

namespace {

constexpr wchar_t kUsage[] =
    L"usage: itemcache [options] list  FILE|--vault GUID\n"
    L"       itemcache [options] show  FILE|--vault GUID NAME\n"
    L"       itemcache [options] check FILE|--vault GUID\n"
    L"  list   every item: its name, record fields, date and number of children\n"
    L"  show   one item (NAME: \"Bracket\" or \"Bracket.<item>\") and its children as the host receives them\n"
    L"  check  the file's health; exit status 0 sound, 1 damage found, 2 could not open\n"
    L"options:\n"
    L"  --vault GUID          the vault's cache file, found as the plug-in finds it\n"
    L"  --hide-type3          as after SetOption(3): children of type 3 are left out\n"
    L"  --json                print JSON instead of text\n"
    L"  --lock-timeout SECS   how long to wait for the cache lock (default 30)\n"
    L"  --timeout SECS        give up when the file gives no answer for this long (default 120)\n";

struct Options {
    Command command = Command::List;
    std::wstring file, vault, name;
    bool json = false;
    DWORD timeoutSeconds = 120;
    InspectOptions inspect;
};

bool ParseSeconds(const wchar_t* text, DWORD& seconds) {
    wchar_t* end = nullptr;
    const unsigned long value = wcstoul(text, &end, 10);
    if (!end || *end || value == 0 || value > 86400) return false;
    seconds = static_cast<DWORD>(value);
    return true;
}

bool ParseArguments(int argc, wchar_t** argv, Options& options) {
    std::vector<std::wstring> words;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        DWORD seconds = 0;
        if (arg == L"--json") {
            options.json = true;
        } else if (arg == L"--hide-type3") {
            options.inspect.hideType3 = true;
        } else if (arg == L"--vault" && i + 1 < argc) {
            options.vault = argv[++i];
        } else if ((arg == L"--lock-timeout" || arg == L"--timeout") && i + 1 < argc && ParseSeconds(argv[++i], seconds)) {
            if (arg == L"--timeout") {
                options.timeoutSeconds = seconds;
            } else {
                options.inspect.lockTimeoutMs = seconds * 1000;
            }
        } else if (arg.rfind(L"--", 0) == 0) {
            return false;
        } else {
            words.push_back(arg);
        }
    }
    if (words.empty()) return false;
    const std::wstring& command = words[0];
    options.command = command == L"show" ? Command::Show : command == L"check" ? Command::Check : Command::List;
    const size_t fileWords = options.vault.empty() ? 1 : 0;
    const bool show = options.command == Command::Show;
    if ((options.command == Command::List && command != L"list") || words.size() != 1 + fileWords + show) return false;
    if (show) options.name = words.back();
    if (fileWords) options.file = words[1];
    return true;
}

// The platform's structured storage can loop on some damaged files; the tool
// then ends with a message instead of hanging with it. The file is open for
// reading only, so ending the process changes nothing.
DWORD WINAPI Watchdog(void* parameter) {
    const DWORD seconds = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(parameter));
    Sleep(seconds * 1000);
    Print(L"itemcache: no answer from the file within " + std::to_wstring(seconds) +
              L" s: it is probably damaged (the structured storage gave no answer)\n",
          stderr);
    ExitProcess(2);
}

int Run(const Options& options) {
    std::wstring path = options.file;
    if (!options.vault.empty()) {
        std::wstring message;
        const bool found = CachePathForVault(options.vault, path, message);
        if (!message.empty()) Print(L"itemcache: " + message + L"\n", stderr);
        if (!found) return 2;
    }
    UniqueHandle watchdog(CreateThread(nullptr, 0, Watchdog,
                                       reinterpret_cast<void*>(static_cast<ULONG_PTR>(options.timeoutSeconds)), 0, nullptr));
    const Json report = Inspect(options.command, path, options.name, options.inspect);
    if (options.json) {
        Print(JsonText(report));
    } else {
        Print(ReportText(report));
    }
    return report.at("exitStatus").get<int>();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (PrintedProductVersion(argc, argv, L"itemcache")) return 0;
    Options options;
    if (!ParseArguments(argc, argv, options)) {
        Print(kUsage, stderr);
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    int code = 2;
    try {
        code = Run(options);
    } catch (const std::exception& e) {
        fprintf(stderr, "itemcache: %s\n", e.what());
    } catch (...) {
        fprintf(stderr, "itemcache: unexpected failure\n");
    }
    // Ends the watchdog with the process.
    ExitProcess(static_cast<UINT>(code));
}
