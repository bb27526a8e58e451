#include "cache/KeySplit.h"

void SplitKey(UnitView key, std::vector<UnitString>& storages, UnitString& stream) {
    storages.clear();
    const std::size_t length = key.size();
    const std::size_t split = length == 0 ? 0 : kStorageNameUnits * ((length - 1) / kStorageNameUnits);
    for (std::size_t offset = 0; offset < split; offset += kStorageNameUnits) {
        storages.push_back(UnitString(key.substr(offset, kStorageNameUnits)) + CodeUnit('F'));
    }
    stream = UnitString(key.substr(split)) + CodeUnit('S');
}

bool JoinKey(const std::vector<UnitString>& storages, UnitView stream, UnitString& key) {
    key.clear();
    // Below a storage the stream holds 1 to 30 code units of the key; only the
    // empty key, at the root, leaves it none.
    const std::size_t least = storages.empty() ? 1 : 2;
    if (stream.size() < least || stream.size() > kStorageNameUnits + 1 || stream.back() != CodeUnit('S')) return false;
    for (const UnitString& storage : storages) {
        if (!IsKeyStorageName(storage)) return false;
        key.append(storage, 0, kStorageNameUnits);
    }
    key.append(stream.substr(0, stream.size() - 1));
    return true;
}
