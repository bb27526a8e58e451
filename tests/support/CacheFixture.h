#pragma once
// A registered vault view ("Design") with its desktop.ini, and the path of the
// vault's item cache file, which is removed before and after each test.
#include <gtest/gtest.h>

#include <string>

#include "tools/cachewriter/CacheWriter.h"
#include "tests/support/RegistrySnapshot.h"
#include "tests/support/TempFolder.h"

inline constexpr wchar_t kTestVaultId[] = L"{ABCDEF01-2345-6789-ABCD-EF0123456789}";
inline constexpr wchar_t kTestViewId[] = L"{0000AAAA-0000-0000-0000-000000000001}";
inline constexpr wchar_t kTestViewName[] = L"Design";

class CacheFixture : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    GUID VaultId() const;
    // The view root folder, with a trailing backslash.
    std::wstring ViewRoot() const { return viewRoot_ + L"\\"; }
    // An item path in the view: <root>\<items>\<fileName>.
    std::wstring ItemPath(const std::wstring& fileName) const { return ViewRoot() + L"<items>\\" + fileName; }
    const std::wstring& CachePath() const { return cachePath_; }
    void RemoveCacheFile() const;

    RegistrySnapshot snapshot_{RegistrySnapshot::ApplicationKeys()};
    TempFolder temp_{L"cache"};
    std::wstring viewRoot_;
    std::wstring cachePath_;
};
