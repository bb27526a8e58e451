#include "tools/cachewriter/FileBytes.h"

#include <filesystem>
#include <stdexcept>

#include "common/UniqueResource.h"

void WriteFileBytes(const std::wstring& path, const void* data, std::size_t size, DWORD attributes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
    if (!file) throw std::runtime_error("cannot create file");
    DWORD written = 0;
    if (size && (!WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr) || written != size)) {
        throw std::runtime_error("cannot write file");
    }
}
