#include "tests/support/CacheFixture.h"

#include "cache/ItemCacheFile.h"
#include "cache/RefPtr.h"
#include "settings/AppKey.h"
#include "tests/support/VaultFixture.h"

void CacheFixture::SetUp() {
    DeleteRegistryTree(HKEY_CURRENT_USER, kAppKeyPath);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kAppKeyPath);
    // Views are found only when the machine's application key exists too.
    SetRegistryString(HKEY_LOCAL_MACHINE, kAppKeyPath, kLocationValue, L"C:\\Program Files\\Ledgerix\\");
    viewRoot_ = temp_ / L"Vault";
    WriteDesktopIni(viewRoot_, kTestVaultId, kTestViewId);
    RegisterVaultView(RegistrationPlace::User, kTestViewName, viewRoot_.c_str());
    RefPtr<CItemCacheFile> file(new CItemCacheFile(VaultId()));
    cachePath_ = file->Path();
    RemoveCacheFile();
}

void CacheFixture::TearDown() { RemoveCacheFile(); }

GUID CacheFixture::VaultId() const { return GuidFromString(kTestVaultId); }

void CacheFixture::RemoveCacheFile() const { DeleteFileW(cachePath_.c_str()); }
