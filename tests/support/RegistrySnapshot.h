#pragma once
// Saves registry subtrees before a test and puts them back afterwards, so that
// every test leaves the shared keys as it found them.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

struct SavedKey;

class RegistrySnapshot {
public:
    struct Place {
        HKEY root;
        std::wstring path;
        REGSAM view;  // 0, KEY_WOW64_32KEY or KEY_WOW64_64KEY
    };

    explicit RegistrySnapshot(std::vector<Place> places);
    RegistrySnapshot(const RegistrySnapshot&) = delete;
    RegistrySnapshot& operator=(const RegistrySnapshot&) = delete;
    ~RegistrySnapshot();

    // The product's application key in every view, per machine and per user.
    static std::vector<Place> ApplicationKeys();

private:
    struct Entry {
        Place place;
        std::unique_ptr<SavedKey> saved;  // null when the key did not exist
    };
    std::vector<Entry> entries_;
};

// Deletes root\path with everything below it; true when it is gone.
bool DeleteRegistryTree(HKEY root, const std::wstring& path, REGSAM view = 0);
