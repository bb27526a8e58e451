#include "tools/common/DateText.h"

#include <windows.h>
#include <oleauto.h>

#include <cwchar>

std::wstring DateText(double date) {
    if (date <= 0.0) return L"none";
    SYSTEMTIME time{};
    if (!(date < 2958466.0) || !VariantTimeToSystemTime(date, &time)) return L"invalid (" + std::to_wstring(date) + L")";
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
             time.wSecond);
    return text;
}
