#pragma once
// The DLL's object map: CItemFile, CItemFormat, CItemPreview, in this order,
// and the registry that hands out their class objects.
#include <span>

#include "module/ClassObjectRegistry.h"

std::span<ObjectMapEntry> ObjectMap() noexcept;
ClassObjectRegistry& ClassObjects() noexcept;
