#pragma once
// Calls a method by its vtable slot, as the host does.
#include <windows.h>

template <class... Args>
HRESULT CallSlot(void* interfacePointer, int slot, Args... args) {
    using Method = HRESULT(STDMETHODCALLTYPE*)(void*, Args...);
    void** vtable = *static_cast<void***>(interfacePointer);
    return reinterpret_cast<Method>(vtable[slot])(interfacePointer, args...);
}
