#include "tools/itembench/Floor.h"

#include <objbase.h>

#include <algorithm>
#include <cstring>

#include "cache/CacheMutex.h"
#include "common/ComPtr.h"
#include "common/UniqueResource.h"
#include "plugin/ReferenceRecord.h"

namespace {

HRESULT ReadUnderLock(const std::wstring& file, const std::vector<std::wstring>& elements, FloorBuffer& out) {
    ComPtr<IStorage> root;
    HRESULT hr = StgOpenStorageEx(file.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_ANY, 0, nullptr, nullptr,
                                  IID_IStorage, root.PutVoid());
    if (FAILED(hr)) return hr;
    // Every storage stays open until the stream is read.
    std::vector<ComPtr<IStorage>> path{root};
    for (size_t i = 0; i + 1 < elements.size(); ++i) {
        ComPtr<IStorage> next;
        hr = path.back()->OpenStorage(elements[i].c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                      next.Put());
        if (FAILED(hr)) return hr;
        path.push_back(std::move(next));
    }
    ComPtr<IStream> stream;
    hr = path.back()->OpenStream(elements.back().c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Put());
    if (FAILED(hr)) return hr;
    STATSTG stat{};
    hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) return hr;
    if (stat.cbSize.QuadPart > out.capacity) return E_OUTOFMEMORY;
    out.size = static_cast<ULONG>(stat.cbSize.QuadPart);
    ULONG got = 0;
    hr = stream->Read(out.data.get(), out.size, &got);
    if (SUCCEEDED(hr) && got != out.size) hr = E_FAIL;
    return hr;
}

std::int32_t Int32At(const std::uint8_t* p) {
    std::int32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// The text up to its first NUL code unit, as a BSTR.
BSTR TextAt(const std::uint8_t* p, std::int32_t bytes) {
    UINT length = 0;
    const UINT units = static_cast<UINT>(bytes) / 2;
    while (length < units && (p[2 * length] | p[2 * length + 1])) ++length;
    BSTR text = SysAllocStringLen(nullptr, length);
    if (text) std::memcpy(text, p, length * 2);
    return text;
}

}  // namespace

HRESULT RawRead(const std::wstring& file, const std::vector<std::wstring>& elements, FloorBuffer& out) {
    UniqueHandle mutex(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kItemCacheMutexName));
    if (!mutex) return HRESULT_FROM_WIN32(GetLastError());
    WaitForSingleObject(mutex.Get(), INFINITE);
    const UniqueMutexOwnership held(mutex.Get());
    return ReadUnderLock(file, elements, out);
}

HRESULT BuildRecords(const FloorBuffer& bytes, long* count, ReferenceRecord** records) {
    *count = 0;
    const std::uint8_t* p = bytes.data.get();
    const std::uint8_t* const end = p + bytes.size;
    if (bytes.size < 8) return E_FAIL;
    std::uint32_t stored;
    std::memcpy(&stored, p + 4, sizeof stored);
    p += 8;
    // Every record takes at least 4 bytes, which bounds the array by the stream.
    const std::uint32_t most = std::min<std::uint32_t>(stored, (bytes.size - 8) / 4);
    auto* out = static_cast<ReferenceRecord*>(CoTaskMemAlloc(sizeof(ReferenceRecord) * most));
    if (!out && most) return E_OUTOFMEMORY;
    long n = 0;
    HRESULT hr = S_OK;
    for (std::uint32_t i = 0; i < stored && SUCCEEDED(hr); ++i) {
        // Checked before the slot is touched: a count larger than the bytes
        // hold would otherwise write past the array.
        if (end - p < 4) { hr = E_FAIL; break; }
        ReferenceRecord& r = out[n];
        std::memset(&r, 0, sizeof r);
        ReferenceNumbers numbers{-1, -1, -1, -1, -1};
        std::int32_t itemType = -1, linkType = -1;
        const std::uint8_t *name = p, *path = p;
        std::int32_t nameBytes = 0, pathBytes = 0;
        if (Int32At(p) < 1) {
            p += 4;
        } else {
            if (end - p < 40) { hr = E_FAIL; break; }
            nameBytes = Int32At(p + 4), pathBytes = Int32At(p + 8);
            if (nameBytes < 0 || nameBytes > 520 || pathBytes < 0 || pathBytes > 1040 ||
                end - p < 60 + nameBytes + pathBytes) {
                hr = E_FAIL;
                break;
            }
            numbers.ref1 = Int32At(p + 12), numbers.ref2 = Int32At(p + 16);
            numbers.ref3 = Int32At(p + 20), numbers.ref4 = Int32At(p + 24);
            linkType = Int32At(p + 28);
            name = p + 40, path = name + nameBytes;
            const std::uint8_t* tail = path + pathBytes;
            itemType = Int32At(tail + 4);
            numbers.state = Int32At(tail + 8);
            p = tail + 20;
        }
        if (numbers.state == 3) continue;
        auto* block = static_cast<ReferenceNumbers*>(CoTaskMemAlloc(sizeof(ReferenceNumbers)));
        r.numbers = block;
        r.path = TextAt(path, pathBytes);
        r.name = TextAt(name, nameBytes);
        ++n;
        if (!block || !r.path || !r.name) { hr = E_OUTOFMEMORY; break; }
        *block = numbers;
        r.numbersSize = sizeof(ReferenceNumbers);
        r.linkCode = linkType == 4 ? 4 : linkType == 6 ? 5 : 0;
        r.one = 1;
        r.typeCode = itemType == 1 ? 4 : itemType == 2 ? 5 : 1;
    }
    if (FAILED(hr)) {
        FreeReferenceRecords(out, n);
        return hr;
    }
    *records = out;
    *count = n;
    return S_OK;
}
