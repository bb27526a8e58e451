#pragma once
// A fresh folder under the temporary folder, removed with everything in it.
#include <string>

class TempFolder {
public:
    explicit TempFolder(const std::wstring& hint = L"t");
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();

    // The folder's full path, without a trailing backslash.
    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& child) const { return path_ + L"\\" + child; }

private:
    std::wstring path_;
};
