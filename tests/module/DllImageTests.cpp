// What the DLL's PE image promises: no mingw runtime DLLs, undecorated exports.
#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <string>

#include "tests/module/PluginDll.h"

namespace {

const IMAGE_NT_HEADERS* NtHeaders(HMODULE module) {
    auto* base = reinterpret_cast<const BYTE*>(module);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
}

template <class T>
const T* At(HMODULE module, DWORD rva) {
    return reinterpret_cast<const T*>(reinterpret_cast<const BYTE*>(module) + rva);
}

}  // namespace

TEST(DllImage, ImportsNoMingwRuntimeDll) {
    PluginDll dll;
    const auto& directory = NtHeaders(dll.Handle())->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(directory.VirtualAddress, 0u);
    int imports = 0;
    for (auto* entry = At<IMAGE_IMPORT_DESCRIPTOR>(dll.Handle(), directory.VirtualAddress); entry->Name; ++entry) {
        const std::string name = At<char>(dll.Handle(), entry->Name);
        ++imports;
        // libgcc_s, libstdc++, libwinpthread and the like: all "lib" + name, unlike system DLLs.
        EXPECT_NE(_strnicmp(name.c_str(), "lib", 3), 0) << name;
    }
    EXPECT_GT(imports, 0);
}

TEST(DllImage, ExportsExactlyTheFourComEntryPointsUndecorated) {
    PluginDll dll;
    const auto& directory = NtHeaders(dll.Handle())->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(directory.VirtualAddress, 0u);
    auto* exports = At<IMAGE_EXPORT_DIRECTORY>(dll.Handle(), directory.VirtualAddress);
    auto* names = At<DWORD>(dll.Handle(), exports->AddressOfNames);
    std::set<std::string> found;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) found.insert(At<char>(dll.Handle(), names[i]));

    const std::set<std::string> expected = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                            "DllUnregisterServer"};
    EXPECT_EQ(found, expected);
    // Undecorated: the plain names are what GetProcAddress finds.
    for (const std::string& name : expected) EXPECT_NE(GetProcAddress(dll.Handle(), name.c_str()), nullptr) << name;
}
