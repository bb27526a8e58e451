#pragma once
#include <windows.h>

#include <string>

// "0x80040213: the item is not in the cache" and the like.
std::wstring DescribeResult(HRESULT hr);
// "the item is not in the cache"
std::wstring ResultMeaning(HRESULT hr);
// "0x80040213"
std::wstring HexResult(HRESULT hr);
// value in hexadecimal with at least digits digits: "0x0000002A".
std::wstring Hex(unsigned long long value, int digits = 8);
