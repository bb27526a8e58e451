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
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "cache/CacheMutex.h"
#include "common/ComPtr.h"
#include "common/UniqueResource.h"
#include "common/Utf8.h"
#include "plugin/ReferenceCodes.h"
#include "plugin/ReferenceList.h"
#include "plugin/ReferenceRecord.h"
#include "settings/AppKey.h"
#include "settings/FileStamp.h"
#include "settings/ViewIdentity.h"
#include "tools/common/PluginHost.h"
#include "tools/common/Print.h"
#include "tools/common/ResultText.h"
#include "tools/common/Table.h"
#include "tools/itembench/BenchVault.h"
#include "tools/itembench/Floor.h"

namespace {

struct Options {
    bool smoke = false;        // one repetition of each, answers checked only
    double budgetSeconds = 3;  // per measurement, once the minimum is reached
    int children = -1, views = -1;  // only the cases with these counts (-1: all)
    bool Wants(int count, int wanted) const { return wanted < 0 || count == wanted; }
};

struct Stats {
    double median = 0, min = 0;
    int reps = 0;
};

using Rows = std::vector<std::vector<std::wstring>>;

struct Row {
    int children = 0, views = 0;
    Stats raw, floor, lookups, references, navigatorAndReferences, property;
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

void Check(bool ok, const std::string& what) {
    if (!ok) Fail("wrong answer: " + what);
}

void CheckResult(HRESULT hr, const std::string& what) {
    if (FAILED(hr)) Fail(what + " failed with " + Utf8(HexResult(hr)));
}

void LoadPlugin(PluginHost& host) {
    CheckResult(host.Load(Activation::Direct, DefaultPluginPath()), "loading ItemPlugin.dll");
}

UniqueBstr Bstr(const std::wstring& text) { return UniqueBstr(SysAllocString(text.c_str())); }

// One attribute query of file, as a lookup makes to learn of a change.
bool QueryAttributes(const std::wstring& file) {
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    return GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &attributes);
}

// The microseconds call (which answers an HRESULT) takes; its failure fails the run.
template <class Call>
double Timed(const std::string& what, Call&& call) {
    const double t0 = Now();
    const HRESULT hr = call();
    const double t = Now() - t0;
    CheckResult(hr, what);
    return t;
}

// The mean microseconds of calls calls of call.
template <class Call>
double MeanTime(int calls, Call&& call) {
    const double t0 = Now();
    for (int i = 0; i < calls; ++i) call();
    return (Now() - t0) / calls;
}

// The records of one answer, freed as the host frees them.
struct Records {
    long count = 0;
    ReferenceRecord* array = nullptr;
    void Free() noexcept { FreeReferenceRecords(std::exchange(array, nullptr), std::exchange(count, 0)); }
    ~Records() { Free(); }
    Records() = default;
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;
};

bool SameText(BSTR text, const std::wstring& expected) {
    return text && SysStringLen(text) == expected.size() && expected.compare(text) == 0;
}

// The answer for item must be its children in stored order with the stored values.
void CheckRecords(const Records& records, const BenchItem& item) {
    Check(records.count == item.children, "count of records");
    if (records.count == 0) return;
    for (const int i : {0, item.children / 2, item.children - 1}) {
        const ReferenceRecord& r = records.array[i];
        Check(SameText(r.name, ChildName(i)) && SameText(r.path, ChildPath(i)), "name or path of a record");
        Check(r.numbersSize == 20 && r.numbers && r.numbers->ref1 == ChildRef(i, 1) &&
                  r.numbers->ref3 == ChildRef(i, 3) && r.numbers->state == 0,
              "numbers of a record");
        Check(r.typeCode == TypeCodeOf(ChildItemType(i)) && r.linkCode == LinkCodeOf(ChildLinkType(i)) &&
                  r.one == 1,
              "codes of a record");
    }
}

// The host's request for an item's references.
HRESULT Ask(IPlxFileFormat* format, BSTR path, ComPtr<IPlxFileNavigator>& navigator, Records& records) {
    HRESULT hr = format->CreateNavigator(path, 0, navigator.Put());
    if (SUCCEEDED(hr)) hr = navigator->GetReferences(0, &records.count, &records.array);
    return hr;
}

// The same answer at the floor's cost.
HRESULT AskFloor(const std::wstring& cacheFile, const BenchItem& item, FloorBuffer& bytes, Records& records) {
    HRESULT hr = RawRead(cacheFile, item.ChildrenElements(), bytes);
    const std::span<const std::byte> stream(reinterpret_cast<const std::byte*>(bytes.data.get()), bytes.size);
    if (SUCCEEDED(hr)) hr = BuildReferenceRecords(stream, {}, &records.array, &records.count);
    return hr;
}

Stats Summary(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    return {n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2, samples.front(), static_cast<int>(n)};
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

Row MeasureCase(const Options& options, const BenchVault& vault, const BenchItem& item, int views,
                IPlxFileFormat* format, IPlxFileFormatProps* props) {
    ULONG expectedBytes = 8;
    for (int i = 0; i < item.children; ++i) {
        expectedBytes += 60 + 2 * static_cast<ULONG>(ChildName(i).size() + ChildPath(i).size());
    }
    const int maxReps = item.children >= 10000 ? 51 : 301;
    // Each repetition times call alone, then checks the answer and frees what
    // the host would free, untimed.
    auto measure = [&](const char* what, auto&& call, auto&& check) {
        return Measure(options, maxReps, [&] {
            const double t = Timed(what, call);
            check();
            return t;
        });
    };
    Records records;
    auto answer = [&] {
        CheckRecords(records, item);
        records.Free();
    };
    const UniqueBstr path = Bstr(vault.ItemPath(item));
    Row row;
    row.children = item.children, row.views = views;

    // Allocated once, outside the timing, for both the raw read and the floor.
    FloorBuffer bytes(expectedBytes);
    const std::vector<std::wstring> elements = item.ChildrenElements();
    row.raw = measure("the raw read", [&] { return RawRead(vault.CacheFile(), elements, bytes); },
                      [&] { Check(bytes.size == expectedBytes, "size of the children stream"); });
    row.floor = measure("the floor", [&] { return AskFloor(vault.CacheFile(), item, bytes, records); }, answer);

    // What a lookup that holds nothing open must spend to know that the views
    // before the vault's own have not changed: one attribute query of each
    // registered view's desktop.ini, up to and including the vault's.
    const std::vector<std::wstring> examined = vault.ExaminedIniFiles();
    row.lookups = measure("an attribute query of a registered view's desktop.ini", [&] {
        HRESULT all = S_OK;
        for (const std::wstring& ini : examined) {
            if (!QueryAttributes(ini)) all = E_FAIL;
        }
        return all;
    }, [] {});

    ComPtr<IPlxFileNavigator> navigator;
    CheckResult(format->CreateNavigator(path.Get(), 0, navigator.Put()), "CreateNavigator");
    row.references = measure("GetReferences",
                             [&] { return navigator->GetReferences(0, &records.count, &records.array); }, answer);
    navigator.Reset();

    // The navigator's release is the plug-in's own work and is timed.
    ComPtr<IPlxFileNavigator> fresh;
    row.navigatorAndReferences = Measure(options, maxReps, [&] {
        const double t =
            Timed("CreateNavigator + GetReferences", [&] { return Ask(format, path.Get(), fresh, records); });
        answer();
        return t + MeanTime(1, [&] { fresh.Reset(); });
    });

    VARIANT pathValue;
    VariantInit(&pathValue);
    pathValue.vt = VT_BSTR;
    pathValue.bstrVal = path.Get();  // lent; path owns it
    UniqueVariant value, extra;
    row.property = measure("GetProperty(1)", [&] { return props->GetProperty(1, pathValue, &value, &extra); }, [&] {
        Check(value.vt == VT_DATE && std::fabs(value.date - kItemTimestamp) < 1e-9, "the item's date");
        Check(extra.vt == VT_I4 && extra.lVal == 0, "the extra value");
        VariantClear(&value), VariantClear(&extra);
    });
    return row;
}

// A child process reports one figure a line: what it is, a tab, the value.
void PrintFigure(const char* what, double value) { printf("%s\t%.1f\n", what, value); }

// In a process of its own (so earlier work leaves no peak behind): list the
// 10,000 children once through the plug-in or the floor, after a warm-up with
// the 100 children, and report the working set before, the peaks before and
// after, and the bytes of the records handed out.
int PeakChild(bool plugin, const std::wstring& cacheFile) {
    BenchVault vault;
    PluginHost host;
    auto list = [&](const BenchItem& item, Records& records) {
        if (plugin) {
            const UniqueBstr path = Bstr(vault.ItemPath(item));
            ComPtr<IPlxFileNavigator> navigator;
            CheckResult(Ask(host.Format(), path.Get(), navigator, records), "CreateNavigator + GetReferences");
        } else {
            FloorBuffer bytes(4 << 20);
            CheckResult(AskFloor(cacheFile, item, bytes, records), "the floor");
        }
        CheckRecords(records, item);
    };
    if (plugin) LoadPlugin(host);
    {
        Records records;
        list(BenchItems()[1], records);
    }
    PROCESS_MEMORY_COUNTERS before{}, after{};
    before.cb = after.cb = sizeof before;
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    Records records;
    list(BenchItems()[2], records);
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
    double handed = static_cast<double>(records.count) * (sizeof(ReferenceRecord) + sizeof(ReferenceNumbers));
    for (long i = 0; i < records.count; ++i) {
        // A BSTR is its length prefix, its text and the terminating NUL.
        handed += SysStringByteLen(records.array[i].path) + 6.0 + SysStringByteLen(records.array[i].name) + 6.0;
    }
    PrintFigure("working set", static_cast<double>(before.WorkingSetSize));
    PrintFigure("peak before", static_cast<double>(before.PeakWorkingSetSize));
    PrintFigure("peak after", static_cast<double>(after.PeakWorkingSetSize));
    PrintFigure("records handed out", handed);
    return 0;
}

// The host's first click after it starts, in a process of its own: loading the
// DLL (LoadLibrary, DllGetClassObject, CreateInstance), the first
// CreateNavigator + GetReferences (100 children), the first for a second
// vault, and then the steady state (the median of 11) for the first vault.
int FirstChild() {
    const BenchItem& item = BenchItems()[1];
    BenchVault vault;
    const UniqueBstr first = Bstr(vault.ItemPath(item)), second = Bstr(vault.ItemPath(item, true));
    PluginHost host;
    auto request = [&](BSTR path) {
        Records records;
        ComPtr<IPlxFileNavigator> navigator;
        const double t = Timed("the first CreateNavigator + GetReferences",
                               [&] { return Ask(host.Format(), path, navigator, records); });
        Check(records.count == item.children, "count of records");
        return t;
    };
    PrintFigure("loading the DLL (LoadLibrary, DllGetClassObject, CreateInstance)",
                Timed("loading ItemPlugin.dll", [&] { return host.Load(Activation::Direct, DefaultPluginPath()); }));
    PrintFigure("first CreateNavigator + GetReferences", request(first.Get()));
    PrintFigure("first for a second vault", request(second.Get()));
    std::vector<double> steady;
    for (int i = 0; i < 11; ++i) steady.push_back(request(first.Get()));
    PrintFigure("steady state in the same process", Summary(steady).median);
    return 0;
}

// Where the first click's time goes: in a process of its own, the first call
// of each platform function the request's road makes, in the road's order,
// without the plug-in (the DLL is loaded and unloaded first, on its own).
int FirstCallsChild(const std::wstring& cacheFile) {
    BenchVault vault;
    auto first = [](const char* what, auto&& call) { PrintFigure(what, MeanTime(1, call)); };
    first("LoadLibrary of the DLL", [] {
        HMODULE module = LoadLibraryW(DefaultPluginPath().c_str());
        if (module) FreeLibrary(module);
    });
    first("desktop.ini read (GetPrivateProfileStringW, twice)", [&] {
        wchar_t text[50];
        const std::wstring ini = vault.ExaminedIniFiles().back();
        GetPrivateProfileStringW(kViewIniSection, kViewIdKey, L"", text, 50, ini.c_str());
        GetPrivateProfileStringW(kViewIniSection, kVaultIdKey, L"", text, 50, ini.c_str());
    });
    first("user key and registrations (open, list, ShellRoot)", [] {
        UniqueHKey app, vaults;
        RegOpenKeyExW(HKEY_CURRENT_USER, kAppKeyPath, 0, KEY_READ, app.Put());
        RegOpenKeyExW(app.Get(), kUserViewsKey, 0, KEY_READ, vaults.Put());
        wchar_t name[256];
        DWORD chars = 256;
        RegEnumKeyExW(vaults.Get(), 0, name, &chars, nullptr, nullptr, nullptr, nullptr);
    });
    first("data folder (SHGetSpecialFolderPathW)", [] {
        wchar_t folder[MAX_PATH + 1];
        SHGetSpecialFolderPathW(nullptr, folder, CSIDL_LOCAL_APPDATA, FALSE);
    });
    first("cache mutex (OpenMutexW)", [] { UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, kItemCacheMutexName)); });
    first("cache read (StgOpenStorageEx, storages, stream, Read)", [&] {
        FloorBuffer bytes(1 << 20);
        RawRead(cacheFile, BenchItems()[1].ChildrenElements(), bytes);
    });
    return 0;
}

// Runs this program again with arguments and answers its figures; a failed
// child fails the run.
std::vector<std::pair<std::wstring, double>> RunChild(const std::wstring& arguments) {
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
        Fail("cannot start a measuring process");
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
    if (code != 0) Fail("the measuring process " + Utf8(arguments) + " failed");
    std::vector<std::pair<std::wstring, double>> figures;
    for (size_t at = 0, end; (end = output.find('\n', at)) != std::string::npos; at = end + 1) {
        const size_t tab = output.find('\t', at);
        if (tab >= end) continue;
        figures.emplace_back(std::wstring(output.begin() + at, output.begin() + tab), atof(&output[tab + 1]));
    }
    if (figures.empty()) Fail("the measuring process " + Utf8(arguments) + " printed no figures");
    return figures;
}

std::wstring Fixed(double value, int decimals) {
    wchar_t text[32];
    swprintf(text, 32, L"%.*f", decimals, value);
    return text;
}

std::wstring Cell(const Stats& s) {
    auto micro = [](double us) { return Fixed(us, us >= 100 ? 0 : 1); };
    return micro(s.median) + L" / " + micro(s.min);
}

std::wstring Ratio(double value, double floor) { return Fixed(floor > 0 ? value / floor : 0.0, 2) + L" x"; }

// How many times the host's first click is measured, each in a new process.
int FirstRuns(const Options& options) { return options.smoke ? 1 : 11; }

// Each figure of runs runs of a child process, summarised: a table row each.
Rows RunChildren(const std::wstring& arguments, int runs) {
    std::vector<std::pair<std::wstring, std::vector<double>>> samples;
    for (int run = 0; run < runs; ++run) {
        const auto figures = RunChild(arguments);
        for (size_t i = 0; i < figures.size(); ++i) {
            if (samples.size() <= i) samples.emplace_back(figures[i].first, std::vector<double>{});
            samples[i].second.push_back(figures[i].second);
        }
    }
    Rows summarised;
    for (auto& [what, values] : samples) summarised.push_back({what, Cell(Summary(std::move(values)))});
    return summarised;
}

// The rise of the peak working set in a child listing the 10,000 children.
std::vector<std::wstring> PeakRow(bool plugin, const std::wstring& cacheFile, const std::wstring& what) {
    const auto f = RunChild(L"--peak " + std::wstring(plugin ? L"plugin" : L"floor") + L" \"" + cacheFile + L"\"");
    if (f.size() != 4) Fail("the peak measurement printed no figures");
    const double workingSet = f[0].second, peakBefore = f[1].second, peakAfter = f[2].second, handed = f[3].second;
    const double rise = peakAfter - workingSet;
    return {what, Fixed(rise / 1048576, 2) + L" MiB",
            L"for " + Fixed(handed / 1048576, 2) + L" MiB of records handed out (" + Ratio(rise, handed) + L")" +
                (peakAfter <= peakBefore ? L", no higher than an earlier peak" : L"")};
}

// What each check a request makes costs on this platform: each call timed
// over 2,000 calls (20 for a smoke run), in this process.
Rows MeasureCalls(int calls, const BenchVault& vault) {
    Rows costs;
    auto time = [&](const wchar_t* what, auto&& call) {
        call();
        costs.push_back({what, Fixed(MeanTime(calls, call), 2)});
    };
    const std::wstring ini = vault.ExaminedIniFiles().back();
    time(L"GetFileAttributesExW of a desktop.ini", [&] { QueryAttributes(ini); });
    time(L"the plug-in's stamp query of a desktop.ini (NtQueryFullAttributesFile)", [&] {
        FileStamp stamp;
        QueryFileStamp(ini, stamp);
    });
    UniqueHandle events[4];
    HANDLE raw[4];
    for (int i = 0; i < 4; ++i) raw[i] = (events[i] = UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr))).Get();
    time(L"zero-time wait for 1 event", [&] { WaitForSingleObject(raw[0], 0); });
    time(L"zero-time wait for 4 events", [&] { WaitForMultipleObjects(4, raw, FALSE, 0); });
    UniqueHKey app;
    RegOpenKeyExW(HKEY_CURRENT_USER, kAppKeyPath, 0, KEY_READ, app.Put());
    time(L"RegQueryInfoKeyW (a deletion check)", [&] {
        RegQueryInfoKeyW(app.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr);
    });
    time(L"OpenThreadToken (the impersonation check)", [] {
        HANDLE token = nullptr;
        if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) CloseHandle(token);
    });
    time(L"OpenMutexW + CloseHandle of the cache mutex", [] {
        UniqueHandle mutex(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kItemCacheMutexName));
    });
    UniqueHandle mutex(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kItemCacheMutexName));
    time(L"wait for and release the cache mutex", [&] {
        WaitForSingleObject(mutex.Get(), INFINITE);
        ReleaseMutex(mutex.Get());
    });
    time(L"GetFileAttributesExW of the cache file (its size)", [&] { QueryAttributes(vault.CacheFile()); });
    return costs;
}

std::wstring TableText(const Rows& rows, size_t indent) {
    if (rows.empty()) return {};
    Table table(rows.front(), indent);
    for (size_t i = 1; i < rows.size(); ++i) table.Row(rows[i]);
    return table.Text();
}

void PrintReport(const std::vector<Row>& rows, const Rows& peaks, const Rows& first, const Rows& firstCalls,
                 const Rows& calls, const Options& options) {
#ifdef NDEBUG
    const wchar_t* build = L"release";
#else
    const wchar_t* build = L"debug";
#endif
    Rows table{{L"children", L"views", L"raw read (a)", L"floor (e)", L"queries (q)", L"GetReferences (x e+q)",
                L"CreateNav+GetRefs (x a+e+2q)", L"GetProperty(1)", L"reps"}};
    for (const Row& r : rows) {
        const auto reps = std::minmax({r.raw.reps, r.floor.reps, r.lookups.reps, r.references.reps,
                                       r.navigatorAndReferences.reps, r.property.reps});
        table.push_back(
            {std::to_wstring(r.children), std::to_wstring(r.views), Cell(r.raw), Cell(r.floor), Cell(r.lookups),
             Cell(r.references) + L" (" + Ratio(r.references.median, r.floor.median + r.lookups.median) + L")",
             Cell(r.navigatorAndReferences) + L" (" +
                 Ratio(r.navigatorAndReferences.median, r.raw.median + r.floor.median + 2 * r.lookups.median) + L")",
             Cell(r.property), std::to_wstring(reps.first) + L"-" + std::to_wstring(reps.second)});
    }
    std::wstring text = L"\nItemPlugin benchmark (" + std::wstring(build) +
                        L" build), times in microseconds, median / minimum" +
                        (options.smoke ? L" (smoke run: one repetition each)" : L"") +
                        L"\na: raw read of the children stream; e: floor of GetReferences (raw read + the host's "
                        L"records);\nq: one attribute query per registered view's desktop.ini up to the vault's (k = "
                        L"views)\n\n" +
                        TableText(table, 0);
    text += L"\nPeak working set while listing 10,000 children (rise over the working set before the call):\n" +
            TableText(peaks, 2);
    text += L"\nWhat each check costs here (mean of " + std::wstring(options.smoke ? L"20" : L"2,000") + L" calls):\n" +
            TableText(calls, 2);
    if (!first.empty()) {
        text += L"\nThe host's first click, in a new process (10 registered views, 100 children; " +
                std::to_wstring(FirstRuns(options)) + L" runs):\n" + TableText(first, 2) +
                L"  where it goes: the first call of each platform function the road makes, in a new process:\n" +
                TableText(firstCalls, 4);
    }
    Print(text);
}

int Run(const Options& options) {
    // Held for the whole run so that the cache mutex always exists, as it does
    // while any host holds it; both the raw read and the plug-in open it.
    UniqueHandle keeper(CreateMutexW(nullptr, FALSE, kItemCacheMutexName));
    BenchVault vault;
    // Whatever becomes of the run, the vault goes with it.
    const struct Removal {
        BenchVault& vault;
        ~Removal() { vault.Remove(); }
    } removal{vault};
    std::vector<Row> rows;
    Rows peaks, first, firstCalls;
    fprintf(stderr, "itembench: writing the item cache\n");
    vault.Create();
    PluginHost host;
    LoadPlugin(host);
    ComPtr<IPlxFileFormatProps> props;
    CheckResult(host.Format()->QueryInterface(IID_IPlxFileFormatProps, props.PutVoid()),
                "QueryInterface(IPlxFileFormatProps)");
    const bool peak = options.Wants(10000, options.children);
    for (const int views : {1, 10, 100}) {
        if (!options.Wants(views, options.views)) continue;
        vault.SetRegisteredViews(views);
        if (const std::wstring found = vault.CacheFileNow(); found != vault.CacheFile()) {
            Fail("with " + std::to_string(views) + " registered views the vault's cache is looked for in " +
                 Utf8(found) + " not " + Utf8(vault.CacheFile()));
        }
        if (views == 10 && options.Wants(100, options.children)) {
            vault.CreateSecondVault(BenchItems()[1]);
            first = RunChildren(L"--first", FirstRuns(options));
            firstCalls = RunChildren(L"--first-calls \"" + vault.CacheFile() + L"\"", FirstRuns(options));
        }
        for (const BenchItem& item : BenchItems()) {
            if (!options.Wants(item.children, options.children)) continue;
            fprintf(stderr, "itembench: %d children, %d registered views\n", item.children, views);
            rows.push_back(MeasureCase(options, vault, item, views, host.Format(), props.Get()));
        }
        if (peak) {
            peaks.push_back(PeakRow(true, vault.CacheFile(),
                                    L"plug-in, " + std::to_wstring(views) + L" registered view" +
                                        (views > 1 ? L"s:" : L":")));
        }
    }
    if (peak) peaks.push_back(PeakRow(false, vault.CacheFile(), L"floor:"));
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return a.children != b.children ? a.children < b.children : a.views < b.views;
    });
    PrintReport(rows, peaks, first, firstCalls, MeasureCalls(options.smoke ? 20 : 2000, vault), options);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    enum class Mode { Run, Peak, First, FirstCalls } mode = Mode::Run;
    bool peakPlugin = false;
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
            mode = Mode::First;
        } else if (arg == L"--first-calls" && i + 1 < argc) {
            mode = Mode::FirstCalls;
            cacheFile = argv[++i];
        } else if (arg == L"--peak" && i + 2 < argc) {
            mode = Mode::Peak;
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
        code = mode == Mode::Peak         ? PeakChild(peakPlugin, cacheFile)
               : mode == Mode::First      ? FirstChild()
               : mode == Mode::FirstCalls ? FirstCallsChild(cacheFile)
                                          : Run(options);
    } catch (const std::exception& e) {
        fprintf(stderr, "itembench: %s\n", e.what());
        code = 1;
    }
    CoUninitialize();
    return code;
}
