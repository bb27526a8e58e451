#pragma once
// Process state a test changes for its own duration: an environment variable,
// the current directory. Each is put back when the object goes.
#include <windows.h>

#include <optional>
#include <string>

class ScopedEnvironmentVariable {
public:
    // A null value removes the variable.
    ScopedEnvironmentVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
        const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
        if (needed) {
            std::wstring saved(needed, L'\0');
            saved.resize(GetEnvironmentVariableW(name, saved.data(), needed));
            saved_ = saved;
        }
        SetEnvironmentVariableW(name, value);
    }
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;
    ~ScopedEnvironmentVariable() { SetEnvironmentVariableW(name_, saved_ ? saved_->c_str() : nullptr); }

private:
    const wchar_t* name_;
    std::optional<std::wstring> saved_;
};

class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const std::wstring& folder) {
        const DWORD needed = GetCurrentDirectoryW(0, nullptr);
        saved_.assign(needed, L'\0');
        saved_.resize(GetCurrentDirectoryW(needed, saved_.data()));
        SetCurrentDirectoryW(folder.c_str());
    }
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;
    ~ScopedCurrentDirectory() { SetCurrentDirectoryW(saved_.c_str()); }

private:
    std::wstring saved_;
};
