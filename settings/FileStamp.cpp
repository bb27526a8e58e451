#include "settings/FileStamp.h"

#include <winternl.h>

#include <atomic>

#include "common/UniqueResource.h"

namespace {

// The path query behind GetFileAttributesExW, which keeps the change time
// that GetFileAttributesExW drops. ntdll is in every process, so it is bound
// by address without taking a reference.
struct NetworkOpenInformation {
    LARGE_INTEGER creationTime;
    LARGE_INTEGER lastAccessTime;
    LARGE_INTEGER lastWriteTime;
    LARGE_INTEGER changeTime;
    LARGE_INTEGER allocationSize;
    LARGE_INTEGER endOfFile;
    ULONG fileAttributes;
};
using QueryFullAttributesFn = LONG(NTAPI*)(POBJECT_ATTRIBUTES, NetworkOpenInformation*);

constexpr LONG kObjectNameNotFound = static_cast<LONG>(0xC0000034);
constexpr LONG kObjectPathNotFound = static_cast<LONG>(0xC000003A);

std::atomic<QueryFullAttributesFn> g_queryFullAttributes{nullptr};

QueryFullAttributesFn QueryFullAttributes() noexcept {
    if (auto fn = g_queryFullAttributes.load(std::memory_order_relaxed)) return fn;
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto fn = ntdll ? reinterpret_cast<QueryFullAttributesFn>(
                          reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryFullAttributesFile")))
                    : nullptr;
    g_queryFullAttributes.store(fn, std::memory_order_relaxed);
    return fn;
}

// True for a path the Win32 functions would leave as it is: a drive letter,
// a backslash, and components that are neither "." nor "..", hold no forward
// slash and end in neither a dot nor a space (which the Win32 functions strip).
bool IsPlainDrivePath(const CString& path) noexcept {
    if (path.size() < 4 || path[1] != L':' || path[2] != L'\\') return false;
    const wchar_t drive = path[0];
    if (!((drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z'))) return false;
    size_t start = 3;
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != L'\\') {
            if (path[i] == L'/') return false;
            continue;
        }
        if (i == start) return false;  // an empty component
        const wchar_t last = path[i - 1];
        if (last == L'.' || last == L' ') return false;  // ".", ".." and trailing dots or spaces
        start = i + 1;
    }
    return true;
}

// The NT name of a Win32 path: made absolute and normalised as the Win32
// functions do, then given the prefix of the DOS device namespace.
bool NtPathOf(const CString& path, CString& ntPath) {
    if (path.compare(0, 4, L"\\\\?\\") == 0) {
        ntPath = L"\\??\\" + path.substr(4);
        return true;
    }
    // The registered views' roots are such paths: no normalisation needed.
    if (IsPlainDrivePath(path)) {
        ntPath = L"\\??\\" + path;
        return ntPath.size() * sizeof(wchar_t) < 0xFFFF;
    }
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return false;
    CString full(needed, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed) return false;
    full.resize(written);
    if (full.compare(0, 4, L"\\\\.\\") == 0) return false;  // devices have no stamp
    ntPath = full.compare(0, 2, L"\\\\") == 0 ? L"\\??\\UNC\\" + full.substr(2) : L"\\??\\" + full;
    return ntPath.size() * sizeof(wchar_t) < 0xFFFF;
}

// Through a handle, which follows a symbolic link to its target.
StampResult StampByHandle(const CString& path, FileStamp& stamp) noexcept {
    UniqueFileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? StampResult::Missing
                                                                              : StampResult::Failed;
    }
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &basic, sizeof(basic)) ||
        !GetFileInformationByHandleEx(file.Get(), FileStandardInfo, &standard, sizeof(standard))) {
        return StampResult::Failed;
    }
    stamp.size = static_cast<ULONGLONG>(standard.EndOfFile.QuadPart);
    stamp.lastWrite = basic.LastWriteTime.QuadPart;
    stamp.creation = basic.CreationTime.QuadPart;
    stamp.change = basic.ChangeTime.QuadPart;
    return StampResult::Stamped;
}

}  // namespace

StampResult QueryFileStamp(const CString& path, FileStamp& stamp) noexcept try {
    const QueryFullAttributesFn query = QueryFullAttributes();
    CString ntPath;
    if (!query || !NtPathOf(path, ntPath)) return StampByHandle(path, stamp);

    UNICODE_STRING name;
    name.Buffer = ntPath.data();
    name.Length = static_cast<USHORT>(ntPath.size() * sizeof(wchar_t));
    name.MaximumLength = name.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    NetworkOpenInformation info{};
    const LONG status = query(&attributes, &info);
    if (status == kObjectNameNotFound || status == kObjectPathNotFound) return StampResult::Missing;
    if (status < 0) return StampByHandle(path, stamp);
    // The answer may be the link's own: ask its target.
    if (info.fileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return StampByHandle(path, stamp);
    stamp.size = static_cast<ULONGLONG>(info.endOfFile.QuadPart);
    stamp.lastWrite = info.lastWriteTime.QuadPart;
    stamp.creation = info.creationTime.QuadPart;
    stamp.change = info.changeTime.QuadPart;
    return StampResult::Stamped;
} catch (...) {
    return StampResult::Failed;
}
