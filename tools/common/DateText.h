#pragma once
#include <string>

// An OLE date as "2024-03-01 12:00:04"; "none" for dates at or before 0.0 and
// "invalid (...)" for what is no date (NaN and the infinities included).
std::wstring DateText(double date);
