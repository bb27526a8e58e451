#include "tools/itembench/Floor.h"

#include <objbase.h>

#include "cache/CacheMutex.h"
#include "common/ComPtr.h"
#include "common/UniqueResource.h"

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

}  // namespace

HRESULT RawRead(const std::wstring& file, const std::vector<std::wstring>& elements, FloorBuffer& out) {
    UniqueHandle mutex(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kItemCacheMutexName));
    if (!mutex) return HRESULT_FROM_WIN32(GetLastError());
    WaitForSingleObject(mutex.Get(), INFINITE);
    const UniqueMutexOwnership held(mutex.Get());
    return ReadUnderLock(file, elements, out);
}
