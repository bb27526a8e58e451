#pragma once
// Where the item cache file of a vault lies, as text only: computing it creates
// nothing, so diagnosis tools can ask where the plug-in would look.
#include <guiddef.h>

#include "common/CString.h"

struct ItemCacheLocation {
    CString itemsFolder;  // <data folder>Items
    CString viewFolder;   // <data folder>Items\<view name>
    CString file;         // <view folder>\<guid>_vrsn_1.Items
};

// dataFolder ends in a backslash; viewName is the vault's registered view name,
// empty when none carries the vault (the path then has two backslashes in a
// row). The GUID is written in lowercase without braces.
ItemCacheLocation ItemCacheLocationFor(const CString& dataFolder, const CString& viewName, const GUID& vaultId);
