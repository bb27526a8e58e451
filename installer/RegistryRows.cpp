// registry-rows: writes the installer package's registry rows as WiX include
// files, from the same table DllRegisterServer applies (with the rows
// RegisterTypeLib writes for the type library, declared beside it), so that the
// package and self-registration cannot drift apart.
//
//   registry-rows FILE_REF FOLDER_REF OUT64 OUT32 REMOVE_IDT
//
// FILE_REF is the installed DLL's path as the package writes it ("[#file id]"),
// FOLDER_REF its folder without a trailing backslash. OUT64 receives the rows of
// the 64-bit registry view, OUT32 those RegisterTypeLib also writes to the
// 32-bit view (the automation interfaces). REMOVE_IDT is a RemoveRegistry
// table (wixl has no element for it): the ForceRemove keys, deleted with
// everything below them when the package installs, before its rows are written.
//
// Runs on the build machine: standard library only.
#include "RegistrationTable.h"
#include "common/Utf8.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct WixRow {
    std::string key;
    std::string name;  // empty: the key's default value; "*": an empty key
    std::string value;
    bool literal = false;  // value is a formatted reference, not text
};

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Registry columns are formatted text: brackets would read as property
// references and a leading '#' as a number.
std::string FormattedText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '[') {
            out += "[\\[]";
        } else if (c == ']') {
            out += "[\\]]";
        } else {
            out += c;
        }
    }
    if (!out.empty() && out[0] == '#') {
        out.insert(0, "#");
    }
    return out;
}

std::string XmlAttribute(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// ---- the registration table ----

bool IsModulePath(const wchar_t* data) { return data == registration::kModulePath; }

// A key row without data needs a row of its own only when nothing else writes
// into the key or below it; a NoRemove key is one the package must never own.
bool KeyFilledByOtherRows(const std::string& key) {
    const std::string lowered = Lower(key);
    for (const auto group : registration::kAllGroups) {
        for (const auto& row : group) {
            const std::string other = Lower(Utf8(row.key));
            if (other == lowered && (row.valueName || row.data)) {
                return true;
            }
            if (other.size() > lowered.size() && other.compare(0, lowered.size(), lowered) == 0 &&
                other[lowered.size()] == '\\') {
                return true;
            }
        }
    }
    return false;
}

void AddRow(std::vector<WixRow>& rows, WixRow row) {
    for (const auto& existing : rows) {
        if (Lower(existing.key) == Lower(row.key) && Lower(existing.name) == Lower(row.name)) {
            if (existing.value != row.value) {
                throw std::runtime_error("two rows give " + row.key + " \"" + row.name + "\" different data");
            }
            return;
        }
    }
    rows.push_back(std::move(row));
}

void TableRows(std::vector<WixRow>& rows, std::vector<std::string>& forceRemoved, const std::string& fileRef) {
    for (const auto group : registration::kAllGroups) {
        for (const auto& row : group) {
            if (!row.key || !*row.key) {
                throw std::runtime_error("a registration row has no key");
            }
            const std::string key = Utf8(row.key);
            if ((row.marks & registration::kForceRemove) && !row.valueName && !registration::IsProtectedKey(row.key) &&
                std::find(forceRemoved.begin(), forceRemoved.end(), key) == forceRemoved.end()) {
                forceRemoved.push_back(key);
            }
            if (row.valueName && !row.data) {
                throw std::runtime_error("the value row " + key + " \"" + Utf8(row.valueName) + "\" has no data");
            }
            if (!row.data) {
                if (!(row.marks & registration::kNoRemove) && !KeyFilledByOtherRows(key)) {
                    AddRow(rows, {key, "*", "", true});
                }
                continue;
            }
            const std::string name = row.valueName ? Utf8(row.valueName) : std::string();
            if (IsModulePath(row.data)) {
                AddRow(rows, {key, name, fileRef, true});
            } else {
                AddRow(rows, {key, name, Utf8(row.data), false});
            }
        }
    }
}

// The type library's rows, as RegisterTypeLib writes them: the library in the
// 64-bit view, its automation interfaces in both views.
void RowsOf(std::vector<WixRow>& rows, std::span<const registration::Row> group, const std::string& fileRef,
            const std::string& folderRef) {
    for (const auto& row : group) {
        const std::string key = Utf8(row.key);
        const std::string name = row.valueName ? Utf8(row.valueName) : std::string();
        if (!row.data) {
            throw std::runtime_error("the type library row " + key + " has no data");
        } else if (IsModulePath(row.data)) {
            AddRow(rows, {key, name, fileRef, true});
        } else if (row.data == registration::kModuleFolder) {
            AddRow(rows, {key, name, folderRef, true});
        } else {
            AddRow(rows, {key, name, Utf8(row.data), false});
        }
    }
}

void WriteInclude(const std::string& path, const std::vector<WixRow>& rows, bool firstIsKeyPath) {
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        << "<!-- Generated by registry-rows from the registration table. -->\n"
        << "<Include>\n";
    bool keyPath = firstIsKeyPath;
    for (const auto& row : rows) {
        out << "  <RegistryValue Root=\"HKCR\" Key=\"" << XmlAttribute(FormattedText(row.key)) << "\"";
        if (!row.name.empty()) {
            out << " Name=\"" << XmlAttribute(row.name == "*" ? row.name : FormattedText(row.name)) << "\"";
        }
        out << " Type=\"string\" Value=\"" << XmlAttribute(row.literal ? row.value : FormattedText(row.value)) << "\"";
        if (keyPath) {
            out << " KeyPath=\"yes\"";
            keyPath = false;
        }
        out << "/>\n";
    }
    out << "</Include>\n";
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << out.str();
    if (!file.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

void WriteRemoveTable(const std::string& path, const std::vector<std::string>& keys, const std::string& component) {
    std::ostringstream out;
    out << "RemoveRegistry\tRoot\tKey\tName\tComponent_\r\n"
        << "s72\ti2\tl255\tL255\ts72\r\n"
        << "RemoveRegistry\tRemoveRegistry\r\n";
    int index = 0;
    for (const auto& key : keys) {
        // Root 0 is HKEY_CLASSES_ROOT; the name "-" deletes the key and its tree.
        out << "ForceRemove" << ++index << "\t0\t" << FormattedText(key) << "\t-\t" << component << "\r\n";
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << out.str();
    if (!file.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::cerr << "usage: registry-rows FILE_REF FOLDER_REF OUT64 OUT32 REMOVE_IDT\n";
        return 2;
    }
    try {
        std::vector<WixRow> rows64;
        std::vector<WixRow> rows32;
        std::vector<std::string> forceRemoved;
        TableRows(rows64, forceRemoved, argv[1]);
        RowsOf(rows64, registration::kTypeLibraryRows, argv[1], argv[2]);
        RowsOf(rows64, registration::kAutomationInterfaceRows, argv[1], argv[2]);
        RowsOf(rows32, registration::kAutomationInterfaceRows, argv[1], argv[2]);
        WriteInclude(argv[3], rows64, false);
        WriteInclude(argv[4], rows32, true);
        // The component of the DLL, as in ItemPlugin.wxs.
        WriteRemoveTable(argv[5], forceRemoved, "ItemPluginDll");
    } catch (const std::exception& e) {
        std::cerr << "registry-rows: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
