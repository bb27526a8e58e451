#include "tools/cachewriter/StoredRecord.h"

#include <cstring>

namespace {

void AppendBytes(Bytes& out, const void* data, size_t size) {
    const size_t at = out.size();
    out.resize(at + size);
    if (size) std::memcpy(out.data() + at, data, size);
}

template <class... T>
void Append(Bytes& out, const T&... values) {
    (AppendBytes(out, &values, sizeof(T)), ...);
}

void AppendText(Bytes& out, const UnitString& text) { AppendBytes(out, text.data(), text.size() * sizeof(CodeUnit)); }

}  // namespace

Bytes StoredRecord::Serialize() const {
    Bytes out;
    Append(out, recordVersion);
    if (recordVersion < 1) return out;
    Append(out, nameBytes.value_or(static_cast<std::int32_t>(name.size() * 2)),
           pathBytes.value_or(static_cast<std::int32_t>(path.size() * 2)));
    Append(out, ref1, ref2, ref3, ref4, linkType, timestamp);
    AppendText(out, name);
    AppendText(out, path);
    Append(out, timestampKind, itemType, state, aux1, aux2);
    return out;
}

Bytes ChildrenStream(const std::vector<StoredRecord>& children, std::optional<std::uint32_t> count) {
    Bytes out;
    Append(out, std::uint32_t{0x12345678}, count.value_or(static_cast<std::uint32_t>(children.size())));
    for (const auto& child : children) {
        const Bytes record = child.Serialize();
        out.insert(out.end(), record.begin(), record.end());
    }
    return out;
}
