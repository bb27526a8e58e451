#include "cache/CacheFileReader.h"

#include <algorithm>

#include "cache/StorageChain.h"
#include "common/UniqueResource.h"

namespace {

// Storages below the root must be opened exclusively, even for reading.
constexpr DWORD kReadElement = STGM_READ | STGM_SHARE_EXCLUSIVE;

}  // namespace

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

CacheFileReader::CacheFileReader(const CString& path, Options options) : path_(path) {
    mutex_.emplace(options.lockTimeoutMs);
    // Another holder kept the lock: the file is not touched at all.
    if (mutex_->TimedOut()) {
        openResult_ = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        return;
    }
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &attributes) ||
        (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        openResult_ = STG_E_FILENOTFOUND;
        return;
    }
    exists_ = true;
    fileBytes_ = (static_cast<ULONGLONG>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
    header_ = ReadCompoundHeader(path_);
    // Direct mode allows a read-only open when others are denied writing.
    openResult_ = StgOpenStorageEx(path_.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, STGFMT_ANY, 0, nullptr, nullptr,
                                   IID_IStorage, root_.PutVoid());
    if (FAILED(openResult_)) root_.Reset();
}

HRESULT CacheFileReader::ReadKey(const CString& key, StreamBytes& bytes) {
    if (!root_) return E_FAIL;
    StoragePath slot;
    SplitKey(key, slot);
    // Each storage stays usable only while its parents are open.
    std::vector<ComPtr<IStorage>> opened;
    IStorage* current = root_.Get();
    for (const CString& name : slot.names) {
        ComPtr<IStorage> next;
        const HRESULT hr = current->OpenStorage(name.c_str(), nullptr, kReadElement, nullptr, 0, next.Put());
        if (FAILED(hr)) return MapStorageResult(hr);
        current = next.Get();
        opened.push_back(std::move(next));
    }
    ComPtr<IStream> stream;
    const HRESULT hr = current->OpenStream(slot.leafName.c_str(), nullptr, kReadElement, 0, stream.Put());
    if (FAILED(hr)) return MapStorageResult(hr);
    // No stream holds more than the file it lies in, whatever a damaged directory says.
    return bytes.Read(stream.Get(), static_cast<size_t>(fileBytes_));
}

HRESULT CacheFileReader::Walk(const std::function<void(const CacheElement&)>& visit, size_t maxDepth) {
    if (!root_) return E_FAIL;
    std::vector<CString> names;
    return WalkStorage(root_.Get(), names, visit, maxDepth);
}

HRESULT CacheFileReader::WalkStorage(IStorage* storage, std::vector<CString>& names,
                                     const std::function<void(const CacheElement&)>& visit, size_t maxDepth) {
    ComPtr<IEnumSTATSTG> elements;
    if (const HRESULT hr = storage->EnumElements(0, nullptr, 0, elements.Put()); FAILED(hr)) return hr;
    HRESULT result = S_OK;
    for (;;) {
        STATSTG stat{};
        ULONG fetched = 0;
        const HRESULT next = elements->Next(1, &stat, &fetched);
        if (FAILED(next)) return next;
        if (next != S_OK || fetched != 1) break;
        const UniqueCoTaskMem nameBlock(stat.pwcsName);

        CacheElement element;
        element.storages = names;
        element.name = StringOrEmpty(stat.pwcsName);
        element.type = stat.type;
        element.size = stat.cbSize.QuadPart;
        if (stat.type != STGTY_STORAGE) {
            visit(element);
            continue;
        }
        ComPtr<IStorage> inner;
        element.openResult = names.size() < maxDepth
                                 ? storage->OpenStorage(element.name.c_str(), nullptr, kReadElement, nullptr, 0, inner.Put())
                                 : HRESULT_FROM_WIN32(ERROR_TOO_MANY_NAMES);
        if (SUCCEEDED(element.openResult)) {
            ComPtr<IEnumSTATSTG> probe;
            element.emptyStorage = SUCCEEDED(inner->EnumElements(0, nullptr, 0, probe.Put())) && probe->Skip(1) == S_FALSE;
        }
        visit(element);
        if (FAILED(element.openResult) || element.emptyStorage) continue;
        names.push_back(element.name);
        const HRESULT walked = WalkStorage(inner.Get(), names, visit, maxDepth);
        names.pop_back();
        if (FAILED(walked)) result = walked;
    }
    return result;
}
