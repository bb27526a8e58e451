#include "tools/common/PluginHost.h"

#include "ItemPlugin.h"

namespace {

constexpr wchar_t kProgId[] = L"ItemPlugin.ItemFormat";

}  // namespace

std::wstring DefaultPluginPath() {
    wchar_t self[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    return path.substr(0, path.rfind(L'\\') + 1) + L"ItemPlugin.dll";
}

HRESULT PluginHost::Load(Activation activation, const std::wstring& dllPath) {
    if (activation == Activation::Direct) return LoadDirect(dllPath);
    const HRESULT hr = LoadThroughCom();
    if (SUCCEEDED(hr) || activation == Activation::Com) return hr;
    return LoadDirect(dllPath);
}

HRESULT PluginHost::LoadThroughCom() {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(kProgId, &clsid);
    if (FAILED(hr)) return hr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPlxFileFormat, format_.PutVoid());
    if (SUCCEEDED(hr)) source_ = std::wstring(L"COM activation of ") + kProgId;
    return hr;
}

HRESULT PluginHost::LoadDirect(const std::wstring& dllPath) {
    module_.Reset(LoadLibraryW(dllPath.c_str()));
    if (!module_) return HRESULT_FROM_WIN32(GetLastError());
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module_.Get(), "DllGetClassObject")));
    if (!getClassObject) return HRESULT_FROM_WIN32(GetLastError());

    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(CLSID_ItemFormat, IID_IClassFactory, factory.PutVoid());
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(nullptr, IID_IPlxFileFormat, format_.PutVoid());
    if (SUCCEEDED(hr)) source_ = dllPath + L" (loaded directly)";
    return hr;
}
