// Installation folders and files from the machine's installation settings.
#include <windows.h>
#include <shlwapi.h>

#include <vector>

#include "common/Environment.h"
#include "settings/AppKey.h"
#include "settings/SettingsLight.h"

namespace {

bool FileExists(const CString& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Every non-overlapping occurrence of from, left to right, case-sensitive.
CString ReplaceAll(const CString& text, const CString& from, const CString& to) {
    if (from.empty()) return text;
    CString result;
    size_t start = 0;
    for (size_t hit; (hit = text.find(from, start)) != CString::npos; start = hit + from.size()) {
        result.append(text, start, hit - start);
        result += to;
    }
    result.append(text, start, CString::npos);
    return result;
}

// The folder that holds folder (which ends in a backslash), with a backslash. A
// relative folder of one component has no parent: that gives the empty string,
// not "\", which would name the root of the current drive.
CString ParentFolder(const CString& folder) {
    std::vector<wchar_t> buffer(folder.begin(), folder.end());
    buffer.resize(folder.size() + MAX_PATH, L'\0');
    PathRemoveBackslashW(buffer.data());
    PathRemoveFileSpecW(buffer.data());
    CString parent(buffer.data());
    if (!parent.empty()) AppendBackslashIfMissing(parent);
    return parent;
}

}  // namespace

CString SettingsLight::ReadFolderValue(Registry* key, const wchar_t* valueName) {
    CString value;
    if (!key || !key->ReadString(valueName, value) || value.empty()) return {};
    AppendBackslashIfMissing(value);
    return value;
}

CString SettingsLight::GetInstallFolder(PathKind kind) {
    // A cached kind keeps only a success, so a failure is tried again next time.
    auto cached = [this](CString& cache, Registry& key, REGSAM view) -> CString {
        if (cache.empty()) cache = ReadFolderValue(MachineKeyInView(key, view), kLocationValue);
        return cache;
    };
    // The registry value, or the fallback base with a relative tail.
    auto valueOr = [this](const wchar_t* valueName, PathKind base, const wchar_t* tail) -> CString {
        CString folder = ReadFolderValue(MachineKey(), valueName);
        return folder.empty() ? GetPath(base) + tail : folder;
    };

    switch (kind) {
        case PathKind::Location:
            if (location_.empty()) location_ = ReadFolderValue(MachineKey(), kLocationValue);
            return location_;
        case PathKind::SharedLocation:
            if (sharedLocation_.empty()) sharedLocation_ = ReadFolderValue(MachineKey(), L"SharedLocation");
            return sharedLocation_;
        case PathKind::Location64:
            return cached(location64_, machineKey64_, KEY_WOW64_64KEY);
        case PathKind::Location32:
            return cached(location32_, machineKey32_, KEY_WOW64_32KEY);
        case PathKind::LanFileDir:
            return valueOr(L"LanFileDir", PathKind::SharedLocation, L"LanFiles\\");
        case PathKind::InsoBinDir:
            return valueOr(L"InsoBinDir", PathKind::SharedLocation, L"FileFormats\\InsoBin\\");
        case PathKind::DefaultDataDir:
            return valueOr(L"DefaultDataDir", PathKind::Location64, L"Default Data\\");
        case PathKind::DefaultCardDir:
            return valueOr(L"DefaultCardDir", PathKind::Location64, L"Default Cards\\");
        case PathKind::DefConfigDir:
            return valueOr(L"DefConfigDir", PathKind::Location64, L"Default Configurations\\");
        case PathKind::VaultConfigFile:
            return GetPath(PathKind::DefConfigDir) + L"VaultConfigurations.ini";
        case PathKind::LangDir:
            return valueOr(L"LangDir", PathKind::Location64, L"Lang\\") + GetLanguage() + L'\\';
        case PathKind::LanFileParentDir:
            return ParentFolder(GetPath(PathKind::LanFileDir));
        case PathKind::HelpFile: {
            const CString help = GetPath(PathKind::LangDir) + L"FileExplorer.chm";
            if (FileExists(help)) return help;
            const CString language = GetLanguage();
            if (EqualsIgnoreCase(language, L"GB")) return help;
            const CString english = ReplaceAll(help, L"\\" + language + L"\\", L"\\GB\\");
            return FileExists(english) ? english : help;
        }
        case PathKind::HelpViewerExe: {
            CString viewer;
            if (!ReadEnvironmentVariable(L"ProgramFiles(x86)", viewer)) return {};
            AppendBackslashIfMissing(viewer);
            viewer += L"Common Files\\Kestrelmar Shared\\zeRadaVuriri\\zeRadaVuriri.exe";
            return PathFileExistsW(viewer.c_str()) ? viewer : CString();
        }
        default:
            return {};
    }
}
