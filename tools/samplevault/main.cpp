// samplevault: seeds a sample vault for the demo. It registers a vault view
// for the current user, writes the view root's desktop.ini and fills the
// vault's item cache with a few items whose children show the filters and the
// code mappings. Prints the item paths, one a line.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "cache/ItemCacheFile.h"
#include "cache/RefPtr.h"
#include "settings/AppKey.h"
#include "tools/cachewriter/CacheWriter.h"
#include "tools/cachewriter/VaultWriter.h"

namespace {

constexpr wchar_t kVaultId[] = L"{5EED0001-2222-4333-8444-555555555555}";
constexpr wchar_t kViewId[] = L"{5EED0002-2222-4333-8444-555555555555}";
constexpr wchar_t kViewName[] = L"Sample";

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
    WriteDesktopIni(root, kVaultId, kViewId);
    // An installed product has its machine key; without it no view is found.
    SetRegistryString(HKEY_LOCAL_MACHINE, kAppKeyPath, kLocationValue, L"C:\\Program Files\\Ledgerix Enterprise\\");
    RegisterVaultView(RegistrationPlace::User, kViewName, root.c_str());

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
