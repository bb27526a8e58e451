#pragma once
// Obtains the plug-in's format object the way a host does: through COM
// activation of the registered class, or by loading the DLL and asking its
// class object directly.
#include <windows.h>

#include <string>

#include "PlxHostInterfaces.h"
#include "common/ComPtr.h"
#include "common/UniqueResource.h"

enum class Activation { Automatic, Com, Direct };

class PluginHost {
public:
    PluginHost() = default;
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // Automatic uses COM when the ProgID is registered, the DLL otherwise.
    HRESULT Load(Activation activation, const std::wstring& dllPath);

    IPlxFileFormat* Format() const { return format_.Get(); }
    // How the format object was obtained, for the report.
    const std::wstring& Source() const { return source_; }

private:
    HRESULT LoadDirect(const std::wstring& dllPath);
    HRESULT LoadThroughCom();

    UniqueHModule module_;  // declared first: it goes after every interface
    ComPtr<IPlxFileFormat> format_;
    std::wstring source_;
};

// ItemPlugin.dll beside this program.
std::wstring DefaultPluginPath();
