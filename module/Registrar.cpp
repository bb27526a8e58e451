#include "module/Registrar.h"

#include <climits>

#include "common/Result.h"
#include "common/UniqueResource.h"

namespace {

// Keys that ForceRemove never deletes: removing one would wreck the whole hive.
constexpr const wchar_t* kProtectedNames[] = {
    L"AppID", L"CLSID", L"Component Categories", L"FileType", L"Interface", L"Hardware",
    L"Mime",  L"SAM",   L"SECURITY",             L"SYSTEM",   L"Software",  L"TypeLib",
};

bool IsProtected(const CString& name) {
    for (const wchar_t* protectedName : kProtectedNames) {
        if (EqualsIgnoreCase(name, protectedName)) return true;
    }
    return false;
}

HRESULT FromStatus(LONG status) { return HRESULT_FROM_WIN32(static_cast<unsigned long>(status)); }

HRESULT SetString(HKEY key, const wchar_t* name, const CString& data) {
    const size_t bytes = (data.size() + 1) * sizeof(wchar_t);
    if (bytes > ULONG_MAX) return E_INVALIDARG;
    return FromStatus(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                     static_cast<DWORD>(bytes)));
}

HRESULT OpenOrCreateKey(HKEY parent, const CString& name, UniqueHKey& key) {
    if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | KEY_WRITE, key.Put()) == ERROR_SUCCESS) return S_OK;
    if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS) return S_OK;
    return FromStatus(RegCreateKeyExW(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                                      nullptr, key.Put(), nullptr));
}

HRESULT RegisterKey(HKEY parent, const RegistryScriptEntry& entry) {
    if (entry.forceRemove && !IsProtected(entry.name)) {
        // Stale entries left below the key would survive registration unnoticed.
        const LONG status = RegDeleteTreeW(parent, entry.name.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return FromStatus(status);
    }
    UniqueHKey key;
    RETURN_IF_FAILED(OpenOrCreateKey(parent, entry.name, key));
    if (entry.hasData) RETURN_IF_FAILED(SetString(key.Get(), nullptr, entry.data));
    for (const auto& child : entry.children) {
        if (child.kind == RegistryScriptEntry::Kind::Value) {
            RETURN_IF_FAILED(SetString(key.Get(), child.name.c_str(), child.data));
        } else {
            RETURN_IF_FAILED(RegisterKey(key.Get(), child));
        }
    }
    return S_OK;
}

HRESULT RemoveKey(HKEY parent, const RegistryScriptEntry& entry) {
    UniqueHKey key;
    LONG status = RegOpenKeyExW(parent, entry.name.c_str(), 0, KEY_READ | KEY_WRITE, key.Put());
    if (status == ERROR_FILE_NOT_FOUND) return S_OK;
    if (status != ERROR_SUCCESS) return FromStatus(status);

    for (const auto& child : entry.children) {
        if (child.kind == RegistryScriptEntry::Kind::Key) {
            RETURN_IF_FAILED(RemoveKey(key.Get(), child));
        } else if (!child.noRemove) {
            status = RegDeleteValueW(key.Get(), child.name.c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return FromStatus(status);
        }
    }
    if (entry.noRemove) return S_OK;

    DWORD subkeys = 0;
    status = RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) return FromStatus(status);
    if (subkeys != 0) return S_OK;
    key.Reset();
    status = RegDeleteKeyW(parent, entry.name.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return FromStatus(status);
    return S_OK;
}

HRESULT ApplyEntries(const RegistryScript& script, bool registerMode) {
    for (const auto& root : script) {
        for (const auto& key : root.keys) {
            RETURN_IF_FAILED(registerMode ? RegisterKey(root.root, key) : RemoveKey(root.root, key));
        }
    }
    return S_OK;
}

// The script resource's ANSI text as UTF-16, up to its first zero character.
HRESULT LoadScriptText(const CString& modulePath, UINT scriptId, CString& text) {
    UniqueHModule file(LoadLibraryExW(modulePath.c_str(), nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!file) file.Reset(LoadLibraryExW(modulePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!file) return HResultFromLastError();

    HRSRC resource = FindResourceW(file.Get(), MAKEINTRESOURCEW(scriptId), L"REGISTRY");
    if (!resource) return HResultFromLastError();
    HGLOBAL loaded = LoadResource(file.Get(), resource);
    if (!loaded) return HResultFromLastError();
    const DWORD size = SizeofResource(file.Get(), resource);
    const auto* bytes = static_cast<const char*>(LockResource(loaded));
    if (!bytes) return HResultFromLastError();
    if (size == 0) {
        text.clear();
        return S_OK;
    }
    if (size > INT_MAX) return E_OUTOFMEMORY;

    const int chars = MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, static_cast<int>(size), nullptr, 0);
    if (chars <= 0) return HResultFromLastError();
    text.assign(static_cast<size_t>(chars), L'\0');
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, static_cast<int>(size), text.data(), chars) != chars) {
        return HResultFromLastError();
    }
    const size_t zero = text.find(L'\0');
    if (zero != CString::npos) text.resize(zero);
    return S_OK;
}

// Its address tells GetModuleHandleExW which module this code was linked into.
const int kModuleAnchor = 0;

}  // namespace

HRESULT ApplyParsedRegistryScript(const RegistryScript& script, bool registerMode) noexcept try {
    const HRESULT hr = ApplyEntries(script, registerMode);
    if (FAILED(hr) && registerMode) ApplyEntries(script, false);
    return hr;
}
CATCH_RETURN()

HRESULT ApplyRegistryScriptText(std::wstring_view text, const ScriptReplacements& replacements,
                                bool registerMode) noexcept try {
    RegistryScript script;
    RETURN_IF_FAILED(ParseRegistryScript(text, replacements, script));
    return ApplyParsedRegistryScript(script, registerMode);
}
CATCH_RETURN()

HRESULT ApplyRegistryScriptWithReplacements(UINT scriptId, bool registerMode,
                                            const ScriptReplacements& extra) noexcept try {
    ScriptReplacements replacements = extra;
    replacements.Add(L"APPID", kItemPluginAppId);

    CString path;
    RETURN_IF_FAILED(GetThisModulePath(path));
    CString quoted;
    for (wchar_t c : path) {
        quoted += c;
        if (c == L'\'') quoted += L'\'';
    }
    replacements.Add(L"Module", quoted);
    replacements.Add(L"Module_Raw", quoted);

    CString text;
    RETURN_IF_FAILED(LoadScriptText(path, scriptId, text));
    return ApplyRegistryScriptText(text, replacements, registerMode);
}
CATCH_RETURN()

HRESULT ApplyRegistryScript(UINT scriptId, bool registerMode) noexcept {
    return ApplyRegistryScriptWithReplacements(scriptId, registerMode, ScriptReplacements());
}

HMODULE ThisModule() noexcept {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&kModuleAnchor), &module)) {
        return nullptr;
    }
    return module;
}

HRESULT GetThisModulePath(CString& path) noexcept try {
    const HMODULE module = ThisModule();
    // A null handle would name the process's executable instead.
    if (!module) return HResultFromLastError();
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
    if (length == 0) return HResultFromLastError();
    if (length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path.assign(buffer, length);
    return S_OK;
}
CATCH_RETURN()
