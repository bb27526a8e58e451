// itembench: how long the plug-in takes to answer the host, against what any
// reader of the item cache must spend. In one process it registers vault views,
// writes an item cache and times, for 0, 100 and 10,000 children and 1, 10 and
// 100 registered views: the raw read of a children stream (a), the floor of
// GetReferences (the raw read and the host's records built from its bytes, e),
// GetReferences on an existing navigator, CreateNavigator + GetReferences + the
// host's frees, and GetProperty(1); and, in a child process each, the peak
// working set while 10,000 children are listed. Every answer is checked before
// it is timed. Run it with scripts/bench (release build, pinned to one CPU).
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/ComPtr.h"
#include "common/UniqueResource.h"
#include "plugin/ReferenceRecord.h"
#include "settings/AppKey.h"
#include "settings/FileStamp.h"
#include "tools/itembench/BenchVault.h"
#include "tools/itembench/Floor.h"
#include "tools/common/PluginHost.h"

namespace {

struct Options {
    bool smoke = false;        // one repetition of each, answers checked only
    double budgetSeconds = 3;  // per measurement, once the minimum is reached
    int children = -1, views = -1;  // only the cases with these counts (-1: all)
};

struct Stats {
    double median = 0, min = 0;
    int reps = 0;
};

struct Row {
    int children = 0, views = 0;
    Stats raw, floor, lookups, references, navigatorAndReferences, property;
};

struct Peak {
    std::wstring what;
    double rise = 0, handed = 0;  // bytes
    bool belowEarlierPeak = false;
};

double Now() {
    static const double perMicrosecond = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1e6;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / perMicrosecond;
}

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

std::string Hex(HRESULT hr) {
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

void Check(bool ok, const std::string& what) {
    if (!ok) Fail("wrong answer: " + what);
}

void CheckResult(HRESULT hr, const std::string& what) {
    if (FAILED(hr)) Fail(what + " failed with " + Hex(hr));
}

bool SameText(BSTR text, const std::wstring& expected) {
    return text && SysStringLen(text) == expected.size() && expected.compare(text) == 0;
}

// The answer for item must be its children in stored order with the stored values.
void CheckRecords(const ReferenceRecord* records, long count, const BenchItem& item) {
    Check(count == item.children, "count of records");
    if (count == 0) return;
    for (const int i : {0, item.children / 2, item.children - 1}) {
        const ReferenceRecord& r = records[i];
        Check(SameText(r.name, ChildName(i)) && SameText(r.path, ChildPath(i)), "name or path of a record");
        Check(r.numbersSize == 20 && r.numbers && r.numbers->ref1 == ChildRef1(i) &&
                  r.numbers->ref3 == 3000 + i && r.numbers->state == 0,
              "numbers of a record");
        Check(r.typeCode == (ChildItemType(i) == 1 ? 4 : 5) && r.linkCode == (ChildLinkType(i) == 4 ? 4 : 5) &&
                  r.one == 1,
              "codes of a record");
    }
}

Stats Summary(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    Stats stats;
    stats.reps = static_cast<int>(n);
    stats.min = samples.front();
    stats.median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    return stats;
}

// Runs op, which returns the microseconds it timed, until the repetitions or the
// time budget are used up; never fewer than 11 repetitions (1 for a smoke run).
template <class Op>
Stats Measure(const Options& options, int maxReps, Op op) {
    op();  // checked and warmed up
    std::vector<double> samples;
    const int minReps = options.smoke ? 1 : std::min(11, maxReps);
    const int reps = options.smoke ? 1 : maxReps;
    const double start = Now();
    while (static_cast<int>(samples.size()) < reps &&
           (static_cast<int>(samples.size()) < minReps || Now() - start < options.budgetSeconds * 1e6)) {
        samples.push_back(op());
    }
    return Summary(std::move(samples));
}

class Records {
public:
    Records() = default;
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;
    ~Records() { Free(); }
    void Free() noexcept {
        FreeReferenceRecords(array, count);
        array = nullptr;
        count = 0;
    }
    long count = 0;
    ReferenceRecord* array = nullptr;
};

Row MeasureCase(const Options& options, const BenchVault& vault, const BenchItem& item, int views,
                IPlxFileFormat* format, IPlxFileFormatProps* props) {
    const std::vector<std::wstring> elements = BenchVault::ChildrenElements(item);
    ULONG expectedBytes = 8;
    for (int i = 0; i < item.children; ++i) {
        expectedBytes += 60 + 2 * static_cast<ULONG>(ChildName(i).size() + ChildPath(i).size());
    }
    const int maxReps = item.children >= 10000 ? 51 : 301;
    UniqueBstr path(SysAllocString(vault.ItemPath(item).c_str()));
    Row row;
    row.children = item.children;
    row.views = views;

    // Allocated once, outside the timing, for both the raw read and the floor.
    FloorBuffer bytes(expectedBytes);
    row.raw = Measure(options, maxReps, [&] {
        const double t0 = Now();
        const HRESULT hr = RawRead(vault.CacheFile(), elements, bytes);
        const double t1 = Now();
        CheckResult(hr, "the raw read");
        Check(bytes.size == expectedBytes, "size of the children stream");
        return t1 - t0;
    });

    row.floor = Measure(options, maxReps, [&] {
        Records records;
        const double t0 = Now();
        HRESULT hr = RawRead(vault.CacheFile(), elements, bytes);
        if (SUCCEEDED(hr)) hr = BuildRecords(bytes, &records.count, &records.array);
        const double t1 = Now();
        CheckResult(hr, "the floor");
        CheckRecords(records.array, records.count, item);
        return t1 - t0;
    });

    // What a lookup that holds nothing open must spend to know that the views
    // before the vault's own have not changed: one attribute query of each
    // registered view's desktop.ini, up to and including the vault's.
    const std::vector<std::wstring> examined = vault.ExaminedIniFiles();
    row.lookups = Measure(options, maxReps, [&] {
        WIN32_FILE_ATTRIBUTE_DATA attributes;
        bool all = true;
        const double t0 = Now();
        for (const std::wstring& ini : examined) {
            all = GetFileAttributesExW(ini.c_str(), GetFileExInfoStandard, &attributes) && all;
        }
        const double t1 = Now();
        Check(all, "a registered view's desktop.ini");
        return t1 - t0;
    });

    ComPtr<IPlxFileNavigator> navigator;
    CheckResult(format->CreateNavigator(path.Get(), 0, navigator.Put()), "CreateNavigator");
    row.references = Measure(options, maxReps, [&] {
        Records records;
        const double t0 = Now();
        const HRESULT hr = navigator->GetReferences(0, &records.count, &records.array);
        const double t1 = Now();
        CheckResult(hr, "GetReferences");
        CheckRecords(records.array, records.count, item);
        return t1 - t0;
    });
    navigator.Reset();

    row.navigatorAndReferences = Measure(options, maxReps, [&] {
        Records records;
        ComPtr<IPlxFileNavigator> fresh;
        const double t0 = Now();
        HRESULT hr = format->CreateNavigator(path.Get(), 0, fresh.Put());
        if (SUCCEEDED(hr)) hr = fresh->GetReferences(0, &records.count, &records.array);
        const double t1 = Now();
        CheckResult(hr, "CreateNavigator + GetReferences");
        CheckRecords(records.array, records.count, item);
        // The host frees the records outside the timing, as for the floor; the
        // navigator's release is the plug-in's own work and is timed.
        records.Free();
        const double t2 = Now();
        fresh.Reset();
        return t1 - t0 + Now() - t2;
    });

    VARIANT pathValue;
    VariantInit(&pathValue);
    pathValue.vt = VT_BSTR;
    pathValue.bstrVal = path.Get();  // lent; path owns it
    row.property = Measure(options, maxReps, [&] {
        UniqueVariant value, extra;
        const double t0 = Now();
        const HRESULT hr = props->GetProperty(1, pathValue, &value, &extra);
        const double t1 = Now();
        CheckResult(hr, "GetProperty(1)");
        Check(value.vt == VT_DATE && std::fabs(value.date - kItemTimestamp) < 1e-9, "the item's date");
        Check(extra.vt == VT_I4 && extra.lVal == 0, "the extra value");
        return t1 - t0;
    });
    return row;
}

double HandedBytes(const ReferenceRecord* records, long count) {
    double bytes = static_cast<double>(count) * (sizeof(ReferenceRecord) + sizeof(ReferenceNumbers));
    for (long i = 0; i < count; ++i) {
        // A BSTR is its length prefix, its text and the terminating NUL.
        bytes += SysStringByteLen(records[i].path) + 6.0 + SysStringByteLen(records[i].name) + 6.0;
    }
    return bytes;
}

PROCESS_MEMORY_COUNTERS Memory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters;
}

// In a process of its own (so earlier work leaves no peak behind): list the
// 10,000 children once through the plug-in or the floor, after a warm-up with
// the 100 children, and print the working set before, the peaks before and
// after, and the bytes of the records handed out.
int PeakChild(bool plugin, const std::wstring& cacheFile) {
    const BenchItem& warm = BenchItems()[1];
    const BenchItem& big = BenchItems()[2];
    BenchVault vault;
    PluginHost host;
    auto list = [&](const BenchItem& item, Records& records) {
        if (plugin) {
            UniqueBstr path(SysAllocString(vault.ItemPath(item).c_str()));
            ComPtr<IPlxFileNavigator> navigator;
            CheckResult(host.Format()->CreateNavigator(path.Get(), 0, navigator.Put()), "CreateNavigator");
            CheckResult(navigator->GetReferences(0, &records.count, &records.array), "GetReferences");
        } else {
            FloorBuffer bytes(4 << 20);
            CheckResult(RawRead(cacheFile, BenchVault::ChildrenElements(item), bytes), "the raw read");
            CheckResult(BuildRecords(bytes, &records.count, &records.array), "the floor");
        }
        CheckRecords(records.array, records.count, item);
    };
    if (plugin) CheckResult(host.Load(Activation::Direct, DefaultPluginPath()), "loading ItemPlugin.dll");
    {
        Records records;
        list(warm, records);
    }
    const PROCESS_MEMORY_COUNTERS before = Memory();
    Records records;
    list(big, records);
    const PROCESS_MEMORY_COUNTERS after = Memory();
    printf("%.0f %.0f %.0f %.0f\n", static_cast<double>(before.WorkingSetSize),
           static_cast<double>(before.PeakWorkingSetSize), static_cast<double>(after.PeakWorkingSetSize),
           HandedBytes(records.array, records.count));
    return 0;
}

// Runs this program again with arguments and answers what it printed; a
// failed child fails the run.
std::string RunChild(const std::wstring& arguments, const std::string& what) {
    wchar_t self[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" " + arguments;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    UniqueHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.Put(), writeEnd.Put(), &inherit, 0)) Fail("cannot create a pipe");
    SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(self, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        Fail("cannot start " + what);
    }
    UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
    writeEnd.Reset();
    std::string output;
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(readEnd.Get(), buffer, sizeof buffer, &got, nullptr) && got) output.append(buffer, got);
    WaitForSingleObject(processHandle.Get(), INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(processHandle.Get(), &code);
    if (code != 0) Fail(what + " failed");
    return output;
}

Peak RunPeakChild(bool plugin, const std::wstring& cacheFile, const std::wstring& what) {
    const std::string output = RunChild(L"--peak " + std::wstring(plugin ? L"plugin" : L"floor") + L" \"" + cacheFile +
                                            L"\"",
                                        "the peak measurement");
    double workingSet = 0, peakBefore = 0, peakAfter = 0, handed = 0;
    if (sscanf(output.c_str(), "%lf %lf %lf %lf", &workingSet, &peakBefore, &peakAfter, &handed) != 4) {
        Fail("the peak measurement printed no figures");
    }
    Peak peak;
    peak.what = what;
    peak.rise = peakAfter - workingSet;
    peak.handed = handed;
    peak.belowEarlierPeak = peakAfter <= peakBefore;
    return peak;
}

// The host's first click after it starts, in a process of its own: loading the
// DLL (LoadLibrary, DllGetClassObject, CreateInstance), the first
// CreateNavigator + GetReferences (100 children), the first for a second
// vault, and then the steady state (the median of 11) for the first vault.
int FirstChild() {
    const BenchItem& item = BenchItems()[1];
    BenchVault vault;
    UniqueBstr first(SysAllocString(vault.ItemPath(item).c_str()));
    UniqueBstr second(SysAllocString(vault.SecondVaultItemPath(item).c_str()));
    auto request = [&](BSTR path, IPlxFileFormat* format) {
        Records records;
        ComPtr<IPlxFileNavigator> navigator;
        const double t0 = Now();
        HRESULT hr = format->CreateNavigator(path, 0, navigator.Put());
        if (SUCCEEDED(hr)) hr = navigator->GetReferences(0, &records.count, &records.array);
        const double t1 = Now();
        CheckResult(hr, "the first CreateNavigator + GetReferences");
        Check(records.count == item.children, "count of records");
        return t1 - t0;
    };
    PluginHost host;
    const double t0 = Now();
    CheckResult(host.Load(Activation::Direct, DefaultPluginPath()), "loading ItemPlugin.dll");
    const double load = Now() - t0;
    const double firstVault = request(first.Get(), host.Format());
    const double secondVault = request(second.Get(), host.Format());
    std::vector<double> steady;
    for (int i = 0; i < 11; ++i) steady.push_back(request(first.Get(), host.Format()));
    std::sort(steady.begin(), steady.end());
    printf("%.1f %.1f %.1f %.1f\n", load, firstVault, secondVault, steady[5]);
    return 0;
}

// Where the first click's time goes: in a process of its own, the first call
// of each platform function the request's road makes, in the road's order,
// without the plug-in (the DLL is loaded and unloaded first, on its own).
int FirstCallsChild(const std::wstring& cacheFile) {
    const BenchItem& item = BenchItems()[1];
    BenchVault vault;
    std::vector<std::pair<const char*, double>> costs;
    auto time = [&](const char* what, auto&& call) {
        const double t0 = Now();
        call();
        costs.emplace_back(what, Now() - t0);
    };
    time("LoadLibrary of the DLL", [] {
        HMODULE module = LoadLibraryW(DefaultPluginPath().c_str());
        if (module) FreeLibrary(module);
    });
    time("desktop.ini read (GetPrivateProfileStringW, twice)", [&] {
        wchar_t text[50];
        const std::wstring ini = vault.ExaminedIniFiles().back();
        GetPrivateProfileStringW(L"Vondrik", L"ViewID", L"", text, 50, ini.c_str());
        GetPrivateProfileStringW(L"Vondrik", L"VaultID", L"", text, 50, ini.c_str());
    });
    time("user key and registrations (open, list, ShellRoot)", [] {
        UniqueHKey app, vaults;
        RegOpenKeyExW(HKEY_CURRENT_USER, kAppKeyPath, 0, KEY_READ, app.Put());
        RegOpenKeyExW(app.Get(), L"Vaults", 0, KEY_READ, vaults.Put());
        wchar_t name[256];
        DWORD chars = 256;
        RegEnumKeyExW(vaults.Get(), 0, name, &chars, nullptr, nullptr, nullptr, nullptr);
    });
    time("data folder (SHGetSpecialFolderPathW)", [] {
        wchar_t folder[MAX_PATH + 1];
        SHGetSpecialFolderPathW(nullptr, folder, CSIDL_LOCAL_APPDATA, FALSE);
    });
    time("cache mutex (OpenMutexW)", [] { UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, kCacheMutexName)); });
    time("cache read (StgOpenStorageEx, storages, stream, Read)", [&] {
        FloorBuffer bytes(1 << 20);
        RawRead(cacheFile, BenchVault::ChildrenElements(item), bytes);
    });
    for (const auto& [what, us] : costs) printf("%s\t%.1f\n", what, us);
    return 0;
}

// What each check a request makes costs on this platform: each call timed
// over 2,000 calls (20 for a smoke run), in this process.
std::vector<std::pair<std::string, double>> MeasureCalls(const Options& options, const BenchVault& vault) {
    const int calls = options.smoke ? 20 : 2000;
    std::vector<std::pair<std::string, double>> costs;
    auto time = [&](const char* what, auto&& call) {
        call();
        const double t0 = Now();
        for (int i = 0; i < calls; ++i) call();
        costs.emplace_back(what, (Now() - t0) / calls);
    };
    const std::wstring ini = vault.ExaminedIniFiles().back();
    time("GetFileAttributesExW of a desktop.ini", [&] {
        WIN32_FILE_ATTRIBUTE_DATA attributes;
        GetFileAttributesExW(ini.c_str(), GetFileExInfoStandard, &attributes);
    });
    time("the plug-in's stamp query of a desktop.ini (NtQueryFullAttributesFile)", [&] {
        FileStamp stamp;
        QueryFileStamp(ini, stamp);
    });
    UniqueHandle events[4];
    HANDLE raw[4];
    for (int i = 0; i < 4; ++i) raw[i] = (events[i] = UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr))).Get();
    time("zero-time wait for 1 event", [&] { WaitForSingleObject(raw[0], 0); });
    time("zero-time wait for 4 events", [&] { WaitForMultipleObjects(4, raw, FALSE, 0); });
    UniqueHKey app;
    RegOpenKeyExW(HKEY_CURRENT_USER, kAppKeyPath, 0, KEY_READ, app.Put());
    time("RegQueryInfoKeyW (a deletion check)", [&] {
        RegQueryInfoKeyW(app.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr);
    });
    time("OpenThreadToken (the impersonation check)", [] {
        HANDLE token = nullptr;
        if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) CloseHandle(token);
    });
    time("OpenMutexW + CloseHandle of the cache mutex", [] {
        UniqueHandle mutex(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kCacheMutexName));
    });
    UniqueHandle mutex(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kCacheMutexName));
    time("wait for and release the cache mutex", [&] {
        WaitForSingleObject(mutex.Get(), INFINITE);
        ReleaseMutex(mutex.Get());
    });
    time("GetFileAttributesExW of the cache file (its size)", [&] {
        WIN32_FILE_ATTRIBUTE_DATA attributes;
        GetFileAttributesExW(vault.CacheFile().c_str(), GetFileExInfoStandard, &attributes);
    });
    return costs;
}

struct FirstRequest {
    Stats load, firstVault, secondVault, steady;
    std::vector<std::pair<std::string, Stats>> firstCalls;
};

FirstRequest MeasureFirstRequest(const Options& options, const std::wstring& cacheFile) {
    std::vector<double> load, firstVault, secondVault, steady;
    const int runs = options.smoke ? 1 : 11;
    for (int i = 0; i < runs; ++i) {
        const std::string output = RunChild(L"--first", "the first-request measurement");
        double a = 0, b = 0, c = 0, d = 0;
        if (sscanf(output.c_str(), "%lf %lf %lf %lf", &a, &b, &c, &d) != 4) {
            Fail("the first-request measurement printed no figures");
        }
        load.push_back(a);
        firstVault.push_back(b);
        secondVault.push_back(c);
        steady.push_back(d);
    }
    FirstRequest measured{Summary(load), Summary(firstVault), Summary(secondVault), Summary(steady), {}};
    std::vector<std::pair<std::string, std::vector<double>>> calls;
    for (int i = 0; i < runs; ++i) {
        const std::string output = RunChild(L"--first-calls \"" + cacheFile + L"\"", "the first-call measurement");
        size_t at = 0, line = 0;
        for (size_t end; (end = output.find('\n', at)) != std::string::npos; at = end + 1, ++line) {
            const std::string text = output.substr(at, end - at);
            const size_t tab = text.find('\t');
            if (tab == std::string::npos) continue;
            if (calls.size() <= line) calls.emplace_back(text.substr(0, tab), std::vector<double>{});
            calls[line].second.push_back(atof(text.c_str() + tab + 1));
        }
    }
    for (auto& [what, samples] : calls) measured.firstCalls.emplace_back(what, Summary(std::move(samples)));
    return measured;
}

std::string Micro(double us) {
    char text[32];
    if (us >= 100) snprintf(text, sizeof text, "%.0f", us);
    else snprintf(text, sizeof text, "%.1f", us);
    return text;
}

std::string Cell(const Stats& s) { return Micro(s.median) + " / " + Micro(s.min); }

std::string Ratio(double value, double floor) {
    char text[32];
    snprintf(text, sizeof text, "%.2f x", floor > 0 ? value / floor : 0.0);
    return text;
}

void PrintTable(const std::vector<Row>& rows, const std::vector<Peak>& peaks, const std::optional<FirstRequest>& first,
                const std::vector<std::pair<std::string, double>>& calls, const Options& options) {
    printf("\nItemPlugin benchmark (%s build), times in microseconds, median / minimum%s\n",
#ifdef NDEBUG
           "release",
#else
           "debug",
#endif
           options.smoke ? " (smoke run: one repetition each)" : "");
    printf("a: raw read of the children stream; e: floor of GetReferences (raw read + the host's records);\n"
           "q: one attribute query per registered view's desktop.ini up to the vault's (k = views)\n\n");
    printf("%8s %5s | %-15s | %-15s | %-13s | %-25s | %-27s | %-15s | %s\n", "children", "views", "raw read (a)",
           "floor (e)", "queries (q)", "GetReferences (x e+q)", "CreateNav+GetRefs (x a+e+2q)", "GetProperty(1)",
           "reps");
    printf("%.*s\n", 152, std::string(152, '-').c_str());
    for (const Row& r : rows) {
        const std::string refs =
            Cell(r.references) + " (" + Ratio(r.references.median, r.floor.median + r.lookups.median) + ")";
        const std::string both =
            Cell(r.navigatorAndReferences) + " (" +
            Ratio(r.navigatorAndReferences.median, r.raw.median + r.floor.median + 2 * r.lookups.median) + ")";
        printf("%8d %5d | %-15s | %-15s | %-13s | %-25s | %-27s | %-15s | %d-%d\n", r.children, r.views,
               Cell(r.raw).c_str(), Cell(r.floor).c_str(), Cell(r.lookups).c_str(), refs.c_str(), both.c_str(),
               Cell(r.property).c_str(),
               std::min({r.raw.reps, r.floor.reps, r.lookups.reps, r.references.reps, r.navigatorAndReferences.reps,
                         r.property.reps}),
               std::max({r.raw.reps, r.floor.reps, r.lookups.reps, r.references.reps, r.navigatorAndReferences.reps,
                         r.property.reps}));
    }
    printf("\nPeak working set while listing 10,000 children (rise over the working set before the call):\n");
    for (const Peak& p : peaks) {
        printf("  %-34ls %7.2f MiB for %.2f MiB of records handed out (%.2f x)%s\n", p.what.c_str(),
               p.rise / 1048576, p.handed / 1048576, p.rise / p.handed,
               p.belowEarlierPeak ? ", no higher than an earlier peak" : "");
    }
    printf("\nWhat each check costs here (mean of %s calls):\n", options.smoke ? "20" : "2,000");
    for (const auto& [what, us] : calls) printf("  %-72s %6.2f\n", what.c_str(), us);
    if (!first) return;
    printf("\nThe host's first click, in a new process (10 registered views, 100 children; %d runs):\n",
           first->load.reps);
    printf("  loading the DLL (LoadLibrary, DllGetClassObject, CreateInstance)  %s\n", Cell(first->load).c_str());
    printf("  first CreateNavigator + GetReferences                           %s\n", Cell(first->firstVault).c_str());
    printf("  first for a second vault                                        %s\n", Cell(first->secondVault).c_str());
    printf("  steady state in the same process                                %s\n", Cell(first->steady).c_str());
    printf("  where it goes: the first call of each platform function the road makes, in a new process:\n");
    for (const auto& [what, stats] : first->firstCalls) printf("    %-62s  %s\n", what.c_str(), Cell(stats).c_str());
}

int Run(const Options& options) {
    // Held for the whole run so that the cache mutex always exists, as it does
    // while any host holds it; both the raw read and the plug-in open it.
    UniqueHandle keeper(CreateMutexW(nullptr, FALSE, kCacheMutexName));
    BenchVault vault;
    std::vector<Row> rows;
    std::vector<Peak> peaks;
    std::optional<FirstRequest> first;
    int code = 0;
    try {
        fprintf(stderr, "itembench: writing the item cache\n");
        vault.Create();
        PluginHost host;
        CheckResult(host.Load(Activation::Direct, DefaultPluginPath()), "loading ItemPlugin.dll");
        ComPtr<IPlxFileFormatProps> props;
        CheckResult(host.Format()->QueryInterface(IID_IPlxFileFormatProps, props.PutVoid()),
                    "QueryInterface(IPlxFileFormatProps)");
        for (const int views : {1, 10, 100}) {
            if (options.views >= 0 && views != options.views) continue;
            vault.SetRegisteredViews(views);
            const std::wstring found = vault.CacheFileNow();
            if (found != vault.CacheFile()) {
                Fail("with " + std::to_string(views) + " registered views the vault's cache is looked for in " +
                     std::string(found.begin(), found.end()) + " not " + std::string(vault.CacheFile().begin(), vault.CacheFile().end()));
            }
            if (views == 10 && (options.children < 0 || options.children == 100)) {
                vault.CreateSecondVault(BenchItems()[1]);
                first = MeasureFirstRequest(options, vault.CacheFile());
            }
            for (const BenchItem& item : BenchItems()) {
                if (options.children >= 0 && item.children != options.children) continue;
                fprintf(stderr, "itembench: %d children, %d registered views\n", item.children, views);
                rows.push_back(MeasureCase(options, vault, item, views, host.Format(), props.Get()));
            }
            if (options.children >= 0 && options.children != 10000) continue;
            peaks.push_back(RunPeakChild(true, vault.CacheFile(),
                                         L"plug-in, " + std::to_wstring(views) + L" registered view" +
                                             (views > 1 ? L"s:" : L":")));
        }
        if (options.children < 0 || options.children == 10000) {
            peaks.push_back(RunPeakChild(false, vault.CacheFile(), L"floor:"));
        }
        std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
            return a.children != b.children ? a.children < b.children : a.views < b.views;
        });
        PrintTable(rows, peaks, first, MeasureCalls(options, vault), options);
    } catch (const std::exception& e) {
        fprintf(stderr, "itembench: %s\n", e.what());
        code = 1;
    }
    vault.Remove();
    return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    bool peak = false, peakPlugin = false, firstRequest = false, firstCalls = false;
    std::wstring cacheFile;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--smoke") {
            options.smoke = true;
        } else if (arg == L"--budget" && i + 1 < argc) {
            options.budgetSeconds = _wtof(argv[++i]);
        } else if (arg == L"--children" && i + 1 < argc) {
            options.children = _wtoi(argv[++i]);
        } else if (arg == L"--views" && i + 1 < argc) {
            options.views = _wtoi(argv[++i]);
        } else if (arg == L"--first") {
            firstRequest = true;
        } else if (arg == L"--first-calls" && i + 1 < argc) {
            firstCalls = true;
            cacheFile = argv[++i];
        } else if (arg == L"--peak" && i + 2 < argc) {
            peak = true;
            peakPlugin = std::wstring(argv[++i]) == L"plugin";
            cacheFile = argv[++i];
        } else {
            fprintf(stderr, "usage: itembench [--smoke] [--budget SECONDS_PER_MEASUREMENT] [--children 0|100|10000]"
                            " [--views 1|10|100]\n");
            return 2;
        }
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    int code;
    try {
        code = peak           ? PeakChild(peakPlugin, cacheFile)
               : firstRequest ? FirstChild()
               : firstCalls   ? FirstCallsChild(cacheFile)
                              : Run(options);
    } catch (const std::exception& e) {
        fprintf(stderr, "itembench: %s\n", e.what());
        code = 1;
    }
    CoUninitialize();
    return code;
}
