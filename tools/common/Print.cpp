#include "tools/common/Print.h"

#include "common/Utf8.h"

void Print(std::string_view utf8, FILE* stream) {
    fwrite(utf8.data(), 1, utf8.size(), stream);
    fflush(stream);
}

void Print(std::wstring_view text, FILE* stream) { Print(std::string_view(Utf8(text)), stream); }
