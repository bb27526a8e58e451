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
