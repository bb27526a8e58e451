// The language of the product's resources: the user's choice, else the
// machine's default (recorded as the user's choice), else "GB".
#include "settings/AppKey.h"
#include "settings/SettingsLight.h"

namespace {

constexpr wchar_t kFallbackLanguage[] = L"GB";
constexpr wchar_t kPlaceholder[] = L"S";

}  // namespace

CString SettingsLight::GetLanguage() {
    Registry* user = UserKey();
    if (!user) return kFallbackLanguage;

    Registry userSettings;
    const bool haveUserSettings = userSettings.Create(user->Key(), L"Vaults\\_-Global\\Settings", KEY_READ | KEY_WRITE);
    if (haveUserSettings) {
        CString choice;
        if (userSettings.ReadString(L"0", choice) && !EqualsIgnoreCase(choice, kPlaceholder)) return choice;
    }

    // Read with read access, which every user has; the machine's values are
    // written below only where this user may write them.
    Registry machine;
    if (!machine.Open(HKEY_LOCAL_MACHINE, kAppKeyPath, KEY_READ)) return kFallbackLanguage;
    CString language;
    if (!machine.ReadString(L"DefaultLanguage", language)) return kFallbackLanguage;
    if (EqualsIgnoreCase(language, kPlaceholder)) language = kFallbackLanguage;

    if (haveUserSettings) {
        userSettings.WriteString(L"0", language);
        user->WriteString(L"Language", language);
        Registry machineWrite;
        if (machineWrite.Open(HKEY_LOCAL_MACHINE, kAppKeyPath, KEY_SET_VALUE)) {
            machineWrite.WriteString(L"DefaultLanguage", language);
        }
        Registry machine32;
        CString existing;
        if (machine32.Open(HKEY_LOCAL_MACHINE, kAppKeyPath, KEY_READ | KEY_WOW64_32KEY) &&
            machine32.ReadString(L"DefaultLanguage", existing) &&
            machine32.Open(HKEY_LOCAL_MACHINE, kAppKeyPath, KEY_SET_VALUE | KEY_WOW64_32KEY)) {
            machine32.WriteString(L"DefaultLanguage", language);
        }
    }
    return language;
}
