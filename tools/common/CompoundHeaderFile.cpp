#include "tools/common/CompoundHeaderFile.h"

#include <algorithm>

#include "common/UniqueResource.h"

CompoundHeader ReadCompoundHeader(const CString& path) noexcept {
    CompoundHeader header;
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        header.result = HRESULT_FROM_WIN32(GetLastError());
        return header;
    }
    std::byte bytes[CompoundHeader::kBytes] = {};
    if (!ReadFile(file.Get(), bytes, sizeof(bytes), &header.bytesRead, nullptr)) {
        header.result = HRESULT_FROM_WIN32(GetLastError());
        return header;
    }
    header.result = header.bytesRead == sizeof(bytes) ? S_OK : HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    static_cast<CompoundHeaderFields&>(header) =
        DecodeCompoundHeader(std::span(bytes, std::min<size_t>(header.bytesRead, sizeof(bytes))));
    return header;
}
