#pragma once
// Whether the calling thread acts for another user. A service impersonating
// its caller reads that user's registry, shell folders and files: nothing it
// reads may be served to other threads, nor anything they read to it.
#include <windows.h>

#include "common/UniqueResource.h"

inline bool ThreadImpersonates() noexcept {
    // Only an impersonating thread has a token of its own; the last error is
    // kept for callers that read it after a lookup.
    const DWORD error = GetLastError();
    UniqueHandle token;
    const bool impersonating = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Put()) != FALSE;
    SetLastError(error);
    return impersonating;
}
