#include "tests/support/TempFolder.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>

#include "common/UniqueResource.h"

TempFolder::TempFolder(const std::wstring& hint) {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"ip_" + hint + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(counter++);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WriteFileBytes(const std::wstring& path, const void* data, size_t size) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw std::runtime_error("cannot create file");
    DWORD written = 0;
    if (size && (!WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr) || written != size)) {
        throw std::runtime_error("cannot write file");
    }
}
