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
