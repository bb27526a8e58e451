#pragma once
// The thread-local storage of the language runtime linked into the DLL (with
// mingw-w64: libstdc++'s exception globals, which gcc compiles as emulated
// thread-locals). Given back when a thread ends and when the DLL unloads;
// elsewhere the runtime's own needs nothing from the entry point.
#if defined(__MINGW32__)
void ReleaseRuntimeThreadStorage() noexcept;     // the calling thread's
void ReleaseAllRuntimeThreadStorage() noexcept;  // every thread's, and the TLS index
#else
inline void ReleaseRuntimeThreadStorage() noexcept {}
inline void ReleaseAllRuntimeThreadStorage() noexcept {}
#endif
