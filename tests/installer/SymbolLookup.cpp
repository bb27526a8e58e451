// symbollookup SYMBOL_PATH DLL EXPORT
// Resolves an exported function of DLL to its symbol, source file and line
// through the platform's symbol engine (dbghelp), with SYMBOL_PATH as the only
// place to look for the PDB, as a debugger does with a crash dump's module.
// Prints "name<TAB>file<TAB>line" and exits 0, or says what failed and exits 1.
#include <windows.h>
#include <dbghelp.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Module {
    HMODULE handle = nullptr;
    ~Module() { if (handle) FreeLibrary(handle); }
};

struct SymbolSession {
    HANDLE process = nullptr;
    ~SymbolSession() { if (process) SymCleanup(process); }
};

int Fail(const char* what) {
    std::fprintf(stderr, "symbollookup: %s failed (error %lu)\n", what, GetLastError());
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: symbollookup SYMBOL_PATH DLL EXPORT\n");
        return 2;
    }
    const std::wstring symbolPath = argv[1];
    const std::wstring dll = argv[2];
    const std::string exportName(argv[3], argv[3] + wcslen(argv[3]));

    // Mapped as an image without running its entry point: only addresses are needed.
    Module module;
    module.handle = LoadLibraryExW(dll.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!module.handle) return Fail("LoadLibraryExW");
    const auto address = reinterpret_cast<DWORD64>(GetProcAddress(module.handle, exportName.c_str()));
    if (!address) return Fail("GetProcAddress");

    SymSetOptions(SYMOPT_UNDNAME | SYMOPT_LOAD_LINES | SYMOPT_FAIL_CRITICAL_ERRORS | SYMOPT_NO_PROMPTS);
    SymbolSession session;
    if (!SymInitializeW(GetCurrentProcess(), symbolPath.c_str(), FALSE)) return Fail("SymInitializeW");
    session.process = GetCurrentProcess();
    const DWORD64 base = reinterpret_cast<DWORD64>(module.handle);
    if (!SymLoadModuleExW(session.process, nullptr, dll.c_str(), nullptr, base, 0, nullptr, 0)) {
        return Fail("SymLoadModuleExW");
    }
    IMAGEHLP_MODULEW64 loaded{};
    loaded.SizeOfStruct = sizeof(loaded);
    if (!SymGetModuleInfoW64(session.process, base, &loaded)) return Fail("SymGetModuleInfoW64");
    if (loaded.SymType != SymPdb) {
        std::fprintf(stderr, "symbollookup: no PDB found for the module (symbol type %d)\n",
                     static_cast<int>(loaded.SymType));
        return 1;
    }

    std::vector<unsigned char> buffer(sizeof(SYMBOL_INFOW) + MAX_SYM_NAME * sizeof(wchar_t));
    auto* symbol = reinterpret_cast<SYMBOL_INFOW*>(buffer.data());
    symbol->SizeOfStruct = sizeof(SYMBOL_INFOW);
    symbol->MaxNameLen = MAX_SYM_NAME;
    DWORD64 displacement = 0;
    if (!SymFromAddrW(session.process, address, &displacement, symbol)) return Fail("SymFromAddrW");

    IMAGEHLP_LINEW64 line{};
    line.SizeOfStruct = sizeof(line);
    DWORD lineDisplacement = 0;
    if (!SymGetLineFromAddrW64(session.process, address, &lineDisplacement, &line)) {
        return Fail("SymGetLineFromAddrW64");
    }
    std::wprintf(L"%ls\t%ls\t%lu\n", symbol->Name, line.FileName, line.LineNumber);
    return 0;
}
