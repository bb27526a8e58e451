#pragma once
// The real ItemPlugin.dll, loaded from beside the test program and called
// through its exports and interface pointers, as the host does. Each instance
// loads a fresh copy (the DLL is not loaded elsewhere) and unloads it at the end.
#include <windows.h>
#include <objbase.h>

#include <string>

class PluginDll {
public:
    PluginDll();
    PluginDll(const PluginDll&) = delete;
    PluginDll& operator=(const PluginDll&) = delete;
    ~PluginDll();

    static std::wstring Path();
    HMODULE Handle() const { return module_; }

    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) const { return getClassObject_(clsid, iid, out); }
    HRESULT CanUnloadNow() const { return canUnloadNow_(); }

    // The module's exact lock count, found through LockServer on a class object
    // the caller holds (which itself counts one).
    long LockCount(IClassFactory* held) const;

private:
    HMODULE module_ = nullptr;
    HRESULT(STDAPICALLTYPE* getClassObject_)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* canUnloadNow_)() = nullptr;
};
