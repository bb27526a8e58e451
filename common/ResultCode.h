#pragma once
// Results of the parsers as the 32-bit values of the HRESULTs they stand for,
// so that the parsers build without the Windows headers; common/HostResults.h
// gives the Windows code the same values as HRESULTs.
#include <cstdint>

using ResultCode = std::int32_t;
inline constexpr ResultCode kSucceeded = 0;                                           // S_OK
inline constexpr ResultCode kCacheReadFailed = static_cast<ResultCode>(0x80040228);  // any other cache failure

inline constexpr bool IsFailure(ResultCode result) noexcept { return result < 0; }
