#pragma once
#include "common/CString.h"

// The process environment variable name; false when it is not set.
bool ReadEnvironmentVariable(const wchar_t* name, CString& out);

// text with its %NAME% references expanded as ExpandEnvironmentStringsW does
// (an undefined variable's reference stays as it is); false when that fails.
bool ExpandEnvironmentText(const CString& text, CString& out);
