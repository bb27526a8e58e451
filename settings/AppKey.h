#pragma once
// The product's application key, under HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER.
inline constexpr wchar_t kAppKeyPath[] = L"Software\\Kestrelmar\\Applications\\Ledgerix Enterprise";
