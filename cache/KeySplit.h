#pragma once
// How an element key lies in the compound file. An element name holds at most
// 31 code units, so a key longer than 30 is split into nested storages.
#include <cstddef>
#include <vector>

#include "common/CodeUnit.h"

// Code units of a key per storage name, which adds "F".
inline constexpr std::size_t kStorageNameUnits = 30;

// Fills storages and stream from key: each 30 code units before the last 1-30
// name a storage (+ "F"), outermost first; the rest names the stream (+ "S").
void SplitKey(UnitView key, std::vector<UnitString>& storages, UnitString& stream);

// A storage name the split rule gives: 30 code units of a key and "F".
inline bool IsKeyStorageName(UnitView name) noexcept {
    return name.size() == kStorageNameUnits + 1 && name.back() == CodeUnit('F');
}

// The inverse of SplitKey: the key whose split gives storages and stream, or
// false when no key's does (a storage name that is no key storage name, a
// stream name without "S", or one too short or long for its place).
bool JoinKey(const std::vector<UnitString>& storages, UnitView stream, UnitString& key);
