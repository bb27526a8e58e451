#pragma once
// Writes and removes one group of registration rows (module/RegistrationTable.h)
// below a root key.
//
// Register mode, row by row: the key is opened for reading and writing, else for
// reading, else created; a ForceRemove key is first deleted with everything below
// it (unless its name is protected, such as CLSID); a row's data is set as the
// key's default or named REG_SZ value, kModulePath standing for modulePath as it
// is. When a write fails, the group is removed again and the failure returned.
//
// Removal mode, rows in reverse order so that children go before their parents:
// a value row deletes its value; a key row deletes its key unless it is NoRemove
// or still has subkeys (ones another tool added). Whatever does not exist is
// skipped. Registry errors come back as HRESULT_FROM_WIN32.
#include <windows.h>

#include <span>
#include <string_view>

#include "module/RegistrationTable.h"

HRESULT ApplyRegistrationGroup(HKEY root, std::span<const registration::Row> rows, bool registerMode,
                               std::wstring_view modulePath) noexcept;
