#pragma once
// The registry script language of the DLL's "REGISTRY" resources:
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {GUID} = s 'Description'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Both'
//               }
//           }
//       }
//   }
//
// Tokens are separated by white space; a key or value name is a bare word or a
// single-quoted string in which '' stands for one quote. Keywords (root names,
// ForceRemove, NoRemove, val, the type letter s) are bare words of any case.
// %NAME% is replaced before parsing, the name looked up without regard to case;
// %% is a literal percent sign.
#include <windows.h>

#include <string_view>
#include <utility>
#include <vector>

#include "common/CString.h"

class ScriptReplacements {
public:
    // The first value given for a name stays: replacements a caller passes in
    // take precedence over the module's common ones, which are added after them.
    void Add(std::wstring_view name, std::wstring_view value);
    const CString* Find(std::wstring_view name) const noexcept;

private:
    std::vector<std::pair<CString, CString>> entries_;
};

struct RegistryScriptEntry {
    enum class Kind { Key, Value };

    Kind kind = Kind::Key;
    CString name;
    bool forceRemove = false;  // keys only
    bool noRemove = false;
    bool hasData = false;  // always for a value; for a key, whether it sets its default value
    CString data;          // REG_SZ text
    std::vector<RegistryScriptEntry> children;  // a key's values and subkeys, in script order
};

struct RegistryScriptRoot {
    HKEY root = nullptr;
    std::vector<RegistryScriptEntry> keys;
};

using RegistryScript = std::vector<RegistryScriptRoot>;

// Replaces the %NAME% references of text and parses the result. A malformed
// script or an unknown replacement name gives DISP_E_EXCEPTION.
HRESULT ParseRegistryScript(std::wstring_view text, const ScriptReplacements& replacements,
                            RegistryScript& script) noexcept;
