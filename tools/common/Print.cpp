#include "tools/common/Print.h"

#include <windows.h>

void Print(const std::wstring& text, FILE* stream) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                          nullptr);
    std::string utf8(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr,
                            nullptr);
    }
    fwrite(utf8.data(), 1, utf8.size(), stream);
    fflush(stream);
}
