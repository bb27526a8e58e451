// samplevault: seeds a sample vault for the demo. It registers a vault view
// for the current user, writes the view root's desktop.ini and fills the
// vault's item cache with a few items whose children show the filters and the
// code mappings. Prints the item paths, one a line.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "cache/ItemCacheFile.h"
#include "cache/RefPtr.h"
#include "common/UniqueResource.h"
#include "settings/AppKey.h"
#include "tools/cachewriter/CacheWriter.h"

namespace {

constexpr wchar_t kVaultId[] = L"{5EED0001-2222-4333-8444-555555555555}";
constexpr wchar_t kViewId[] = L"{5EED0002-2222-4333-8444-555555555555}";
constexpr wchar_t kViewName[] = L"Sample";

bool SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    UniqueHKey key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.Put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

StoredRecord Record(const wchar_t* name, const wchar_t* path, std::int32_t itemType, std::int32_t linkType,
                    std::int32_t state, std::int32_t seed) {
    StoredRecord record;
    record.name = name;
    record.path = path;
    record.itemType = itemType;
    record.linkType = linkType;
    record.state = state;
    record.ref1 = seed + 1, record.ref2 = seed + 2, record.ref3 = seed + 3, record.ref4 = seed + 4;
    return record;
}

int Seed(const std::wstring& folder) {
    const std::wstring root = folder + L"\\Vault";
    std::filesystem::create_directories(root);  // "<items>" is the host's virtual folder
    const std::wstring ini = root + L"\\desktop.ini";
    WritePrivateProfileStringW(L"Vondrik", L"VaultID", kVaultId, ini.c_str());
    WritePrivateProfileStringW(L"Vondrik", L"ViewID", kViewId, ini.c_str());
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini.c_str());

    const std::wstring app = kAppKeyPath;
    if (!SetString(HKEY_LOCAL_MACHINE, app, L"Location", L"C:\\Program Files\\Ledgerix Enterprise\\") ||
        !SetString(HKEY_CURRENT_USER, app + L"\\Vaults\\" + kViewName, L"ShellRoot", root)) {
        fwprintf(stderr, L"samplevault: cannot write the vault registration\n");
        return 1;
    }

    GUID vaultId{};
    CLSIDFromString(kVaultId, &vaultId);
    RefPtr<CItemCacheFile> file(new CItemCacheFile(vaultId));
    DeleteFileW(file->Path().c_str());
    CacheWriter writer(file->Path());

    StoredRecord bracket = Record(L"Bracket", L"", 1, -1, 0, 0);
    bracket.timestamp = 45352.5 + 5.0 / 86400;  // 2024-03-01 12:00:05
    bracket.timestampKind = 1;
    writer.WriteItem(L"Bracket.<item>", bracket);
    writer.WriteChildren(L"Bracket.<item>",
                         {Record(L"Bracket.drw", L"C:\\Vault\\Drawings\\Bracket.drw", 2, 6, 0, 100),
                          Record(L"Plate.prt", L"C:\\Vault\\Parts\\Plate.prt", 1, 4, 0, 200),
                          Record(L"Bolt M8", L"C:\\Vault\\Library\\Bolt M8.prt", 3, 4, 0, 300),
                          Record(L"Withdrawn.prt", L"C:\\Vault\\Parts\\Withdrawn.prt", 1, 4, 3, 400),
                          Record(L"Notes.txt", L"C:\\Vault\\Docs\\Notes.txt", 7, 1, 0, 500)});

    StoredRecord frame = Record(L"Frame 50%", L"", 2, -1, 0, 0);
    frame.timestamp = 45400.25;
    frame.timestampKind = 2;
    writer.WriteItem(L"Frame 50%.<item>", frame);
    writer.WriteChildren(L"Frame 50%.<item>", {});
    writer.Close();

    for (const wchar_t* name : {L"Bracket.<item>", L"Frame 50%.<item>", L"Missing.<item>"}) {
        fwprintf(stdout, L"%ls\\<items>\\%ls\n", root.c_str(), name);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fwprintf(stderr, L"usage: samplevault FOLDER\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int code;
    try {
        code = Seed(argv[1]);
    } catch (const std::exception& e) {
        fprintf(stderr, "samplevault: %s\n", e.what());
        code = 1;
    }
    CoUninitialize();
    return code;
}
