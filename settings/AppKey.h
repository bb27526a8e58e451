#pragma once
// The product's application key, under HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER.
inline constexpr wchar_t kAppKeyPath[] = L"Software\\Kestrelmar\\Applications\\Ledgerix Enterprise";

// Under the application key: the machine's vault view registrations and the
// user's, each a subkey named after the vault.
inline constexpr wchar_t kMachineViewsKey[] = L"Databases";
inline constexpr wchar_t kUserViewsKey[] = L"Vaults";
// The value of a registration that makes it a registered view and names its root.
inline constexpr wchar_t kShellRootValue[] = L"ShellRoot";
// The machine key's value naming the installation folder.
inline constexpr wchar_t kLocationValue[] = L"Location";
