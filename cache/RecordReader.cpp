#include "cache/RecordReader.h"

#include <cstring>

#include "common/HostResults.h"

namespace {

// Reads exactly size bytes; a short read is a failure even when the stream says S_OK.
bool ReadExact(IStream* stream, void* buffer, ULONG size) {
    if (size == 0) return true;
    ULONG got = 0;
    const HRESULT hr = stream->Read(buffer, size, &got);
    return SUCCEEDED(hr) && got == size;
}

template <class T>
bool ReadValue(IStream* stream, T& value) {
    return ReadExact(stream, &value, sizeof(T));
}

// A stored text may fill its field but never more; a negative count is damage.
bool FitsField(std::int32_t bytes, int fieldChars) {
    return bytes >= 0 && bytes <= fieldChars * static_cast<std::int32_t>(sizeof(wchar_t));
}

}  // namespace

HRESULT ReadRecord(IStream* stream, ItemObject& item) {
    std::int32_t recordVersion = 0;
    if (!ReadValue(stream, recordVersion)) return ITEM_E_CACHEREAD;
    if (recordVersion < 1) return S_OK;

    std::int32_t nameBytes = 0, pathBytes = 0;
    if (!ReadValue(stream, nameBytes) || !ReadValue(stream, pathBytes)) return ITEM_E_CACHEREAD;
    if (!ReadValue(stream, item.ref1) || !ReadValue(stream, item.ref2) || !ReadValue(stream, item.ref3) ||
        !ReadValue(stream, item.ref4) || !ReadValue(stream, item.linkType) || !ReadValue(stream, item.timestamp)) {
        return ITEM_E_CACHEREAD;
    }
    if (!FitsField(nameBytes, ItemObject::kNameChars) || !FitsField(pathBytes, ItemObject::kPathChars)) {
        return ITEM_E_CACHEREAD;
    }
    std::memset(item.name, 0, sizeof(item.name));
    std::memset(item.path, 0, sizeof(item.path));
    if (!ReadExact(stream, item.name, static_cast<ULONG>(nameBytes)) ||
        !ReadExact(stream, item.path, static_cast<ULONG>(pathBytes))) {
        return ITEM_E_CACHEREAD;
    }
    if (!ReadValue(stream, item.timestampKind) || !ReadValue(stream, item.itemType) || !ReadValue(stream, item.state) ||
        !ReadValue(stream, item.aux1) || !ReadValue(stream, item.aux2)) {
        return ITEM_E_CACHEREAD;
    }
    return S_OK;
}

HRESULT ReadChildList(IStream* stream, std::vector<RefPtr<ChildWithLink>>& children) {
    std::uint32_t skipped = 0, count = 0;
    if (!ReadValue(stream, skipped) || !ReadValue(stream, count)) return ITEM_E_CACHEREAD;
    for (std::uint32_t i = 0; i < count; ++i) {
        RefPtr<ChildWithLink> child(new ChildWithLink());
        const HRESULT hr = ReadRecord(stream, *child);
        if (FAILED(hr)) return hr;
        children.push_back(child);
    }
    return S_OK;
}
