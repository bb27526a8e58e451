#pragma once
// Result codes of the host's range that the plug-in reports.
#include <windows.h>

#include "common/ResultCode.h"

inline constexpr HRESULT ITEM_E_NOTFOUND = static_cast<HRESULT>(0x80040213);     // not in the cache
inline constexpr HRESULT ITEM_E_INVALIDNAME = static_cast<HRESULT>(0x8004021D);  // no item path, or bad element name
inline constexpr HRESULT ITEM_E_CACHEREAD = kCacheReadFailed;                    // any other cache failure
inline constexpr HRESULT ITEM_E_NOPREVIEW = static_cast<HRESULT>(0x800402BF);    // no preview is offered
static_assert(kSucceeded == S_OK);
