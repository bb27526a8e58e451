#pragma once
#include "common/CString.h"

// The process environment variable name; false when it is not set.
bool ReadEnvironmentVariable(const wchar_t* name, CString& out);
