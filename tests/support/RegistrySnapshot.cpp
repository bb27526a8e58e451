#include "tests/support/RegistrySnapshot.h"

#include "common/UniqueResource.h"
#include "settings/AppKey.h"

struct SavedKey {
    struct Value {
        std::wstring name;
        DWORD type;
        std::vector<BYTE> data;
    };
    std::vector<Value> values;
    std::vector<std::pair<std::wstring, std::unique_ptr<SavedKey>>> subkeys;
};

namespace {

std::unique_ptr<SavedKey> Save(HKEY key, REGSAM view) {
    auto saved = std::make_unique<SavedKey>();
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameChars = 16384, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &nameChars, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size);
        DWORD dataSize = size;
        nameChars = 16384;
        RegEnumValueW(key, i, name, &nameChars, nullptr, &type, data.data(), &dataSize);
        data.resize(dataSize);
        saved->values.push_back({std::wstring(name, nameChars), type, std::move(data)});
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameChars = 256;
        if (RegEnumKeyExW(key, i, name, &nameChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        UniqueHKey child;
        if (RegOpenKeyExW(key, name, 0, KEY_READ | view, child.Put()) == ERROR_SUCCESS) {
            saved->subkeys.emplace_back(name, Save(child.Get(), view));
        }
    }
    return saved;
}

void Restore(HKEY parent, const std::wstring& name, const SavedKey& saved, REGSAM view) {
    UniqueHKey key;
    if (RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.Put(), nullptr) !=
        ERROR_SUCCESS) {
        return;
    }
    for (const auto& value : saved.values) {
        RegSetValueExW(key.Get(), value.name.c_str(), 0, value.type, value.data.data(),
                       static_cast<DWORD>(value.data.size()));
    }
    for (const auto& [childName, child] : saved.subkeys) Restore(key.Get(), childName, *child, view);
}

}  // namespace

bool DeleteRegistryTree(HKEY root, const std::wstring& path, REGSAM view) {
    const size_t slash = path.rfind(L'\\');
    const std::wstring parentPath = slash == std::wstring::npos ? L"" : path.substr(0, slash);
    const std::wstring leaf = slash == std::wstring::npos ? path : path.substr(slash + 1);
    UniqueHKey parent;
    LONG status = RegOpenKeyExW(root, parentPath.empty() ? nullptr : parentPath.c_str(), 0, KEY_ALL_ACCESS | view,
                                parent.Put());
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return false;
    UniqueHKey key;
    status = RegOpenKeyExW(parent.Get(), leaf.c_str(), 0, KEY_ALL_ACCESS | view, key.Put());
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return false;
    RegDeleteTreeW(key.Get(), nullptr);
    key.Reset();
    status = RegDeleteKeyExW(parent.Get(), leaf.c_str(), view, 0);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

RegistrySnapshot::RegistrySnapshot(std::vector<Place> places) {
    for (auto& place : places) {
        Entry entry{std::move(place), nullptr};
        UniqueHKey key;
        if (RegOpenKeyExW(entry.place.root, entry.place.path.c_str(), 0, KEY_READ | entry.place.view, key.Put()) ==
            ERROR_SUCCESS) {
            entry.saved = Save(key.Get(), entry.place.view);
        }
        entries_.push_back(std::move(entry));
    }
}

RegistrySnapshot::~RegistrySnapshot() {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        DeleteRegistryTree(it->place.root, it->place.path, it->place.view);
        if (it->saved) Restore(it->place.root, it->place.path, *it->saved, it->place.view);
    }
}

std::vector<RegistrySnapshot::Place> RegistrySnapshot::ApplicationKeys() {
    return {
        {HKEY_CURRENT_USER, kAppKeyPath, 0},
        {HKEY_LOCAL_MACHINE, kAppKeyPath, KEY_WOW64_64KEY},
        {HKEY_LOCAL_MACHINE, kAppKeyPath, KEY_WOW64_32KEY},
    };
}
