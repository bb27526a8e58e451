// DllRegisterServer and DllUnregisterServer: the AppID, the classes of the
// object map and the type library, always for the whole machine.
#include <windows.h>
#include <oleauto.h>

#include "common/ComPtr.h"
#include "common/Result.h"
#include "common/UniqueResource.h"
#include "module/ObjectMap.h"
#include "module/RegistrationGroup.h"
#include "module/ThisModule.h"

namespace {

// Registration must not depend on the locale a caller happens to have set on
// its thread.
class SystemLocaleScope {
public:
    SystemLocaleScope() noexcept : saved_(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
    SystemLocaleScope(const SystemLocaleScope&) = delete;
    SystemLocaleScope& operator=(const SystemLocaleScope&) = delete;
    ~SystemLocaleScope() { SetThreadLocale(saved_); }

private:
    LCID saved_;
};

HRESULT UpdateAppId(bool registerMode, const CString& modulePath) {
    return ApplyRegistrationGroup(HKEY_CLASSES_ROOT, registration::kAppIdRows, registerMode, modulePath);
}

HRESULT UpdateClasses(bool registerMode, const CString& modulePath) {
    for (auto& entry : ObjectMap()) {
        RETURN_IF_FAILED(ApplyRegistrationGroup(HKEY_CLASSES_ROOT, entry.registryRows, registerMode, modulePath));
    }
    return S_OK;
}

// The library from the DLL's TYPELIB resource, else from the ".tlb" file beside it.
HRESULT LoadOwnTypeLib(ComPtr<ITypeLib>& library, CString& loadedFrom) {
    CString path;
    RETURN_IF_FAILED(GetThisModulePath(path));
    if (SUCCEEDED(LoadTypeLib(path.c_str(), library.Put()))) {
        loadedFrom = std::move(path);
        return S_OK;
    }
    const size_t dot = path.rfind(L'.');
    const size_t slash = path.rfind(L'\\');
    if (dot != CString::npos && (slash == CString::npos || dot > slash)) path.resize(dot);
    path += L".tlb";
    if (path.size() >= MAX_PATH) return E_FAIL;
    RETURN_IF_FAILED(LoadTypeLib(path.c_str(), library.Put()));
    loadedFrom = std::move(path);
    return S_OK;
}

HRESULT RegisterOwnTypeLib() {
    ComPtr<ITypeLib> library;
    CString path;
    RETURN_IF_FAILED(LoadOwnTypeLib(library, path));

    CString helpDir;
    UniqueBstr helpFile;
    if (SUCCEEDED(library->GetDocumentation(-1, nullptr, nullptr, nullptr, helpFile.Put())) && helpFile &&
        helpFile.Get()[0] != L'\0') {
        helpDir = helpFile.Get();
        const size_t separator = helpDir.find_last_of(L"\\/:");
        helpDir.resize(separator == CString::npos ? 0 : separator + 1);
    }
    return RegisterTypeLib(library.Get(), const_cast<OLECHAR*>(path.c_str()),
                           helpDir.empty() ? nullptr : const_cast<OLECHAR*>(helpDir.c_str()));
}

HRESULT UnregisterOwnTypeLib() {
    ComPtr<ITypeLib> library;
    CString path;
    RETURN_IF_FAILED(LoadOwnTypeLib(library, path));
    UniqueTypeLibAttr attributes(library.Get());
    RETURN_IF_FAILED(library->GetLibAttr(attributes.Put()));
    // Nothing to remove is no failure: a second unregistration succeeds, while a
    // registration that cannot be removed still fails.
    UniqueBstr registeredPath;
    const HRESULT registered = QueryPathOfRegTypeLib(attributes->guid, attributes->wMajorVerNum,
                                                     attributes->wMinorVerNum, attributes->lcid, registeredPath.Put());
    if (registered == TYPE_E_LIBNOTREGISTERED) return S_OK;
    return UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                             attributes->syskind);
}

}  // namespace

STDAPI DllRegisterServer() try {
    SystemLocaleScope locale;
    CString modulePath;
    RETURN_IF_FAILED(GetThisModulePath(modulePath));
    RETURN_IF_FAILED(UpdateAppId(true, modulePath));
    RETURN_IF_FAILED(UpdateClasses(true, modulePath));
    return RegisterOwnTypeLib();
}
CATCH_RETURN()

// The first failure ends unregistration: what the later steps remove stays.
STDAPI DllUnregisterServer() try {
    SystemLocaleScope locale;
    CString modulePath;
    RETURN_IF_FAILED(GetThisModulePath(modulePath));
    RETURN_IF_FAILED(UpdateClasses(false, modulePath));
    RETURN_IF_FAILED(UnregisterOwnTypeLib());
    return UpdateAppId(false, modulePath);
}
CATCH_RETURN()
