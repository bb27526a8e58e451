// registry-rows: writes the installer package's registry rows as WiX include
// files, from the same table DllRegisterServer applies and from the interface
// definition of the type library, so that the package and self-registration
// cannot drift apart.
//
//   registry-rows IDL FILE_REF FOLDER_REF OUT64 OUT32 REMOVE_IDT
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

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The standard marshalers RegisterTypeLib names for automation interfaces.
constexpr const char* kUniversalMarshaler = "{00020424-0000-0000-C000-000000000046}";
constexpr const char* kDispatchMarshaler = "{00020420-0000-0000-C000-000000000046}";
// Never deleted through ForceRemove, whatever a row says.
constexpr const char* kProtectedKeys[] = {"AppID", "CLSID", "Component Categories", "FileType", "Interface", "Hardware",
                                          "Mime", "SAM", "SECURITY", "SYSTEM", "Software", "TypeLib"};
// RegisterTypeLib records a library loaded from a file with LIBFLAG_FHASDISKIMAGE.
constexpr unsigned kLibFlagHasDiskImage = 8;

struct WixRow {
    std::string key;
    std::string name;  // empty: the key's default value; "*": an empty key
    std::string value;
    bool literal = false;  // value is a formatted reference, not text
};

std::string Utf8(const wchar_t* text) {
    std::string out;
    for (; *text; ++text) {
        auto c = static_cast<unsigned long>(*text);
        if (c >= 0xD800 && c <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<unsigned long>(*++text) - 0xDC00);
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
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

bool IsProtected(const std::string& key) {
    const std::string name = Lower(key.substr(key.rfind('\\') == std::string::npos ? 0 : key.rfind('\\') + 1));
    return std::any_of(std::begin(kProtectedKeys), std::end(kProtectedKeys),
                       [&](const char* p) { return Lower(p) == name; });
}

void TableRows(std::vector<WixRow>& rows, std::vector<std::string>& forceRemoved, const std::string& fileRef) {
    for (const auto group : registration::kAllGroups) {
        for (const auto& row : group) {
            if (!row.key || !*row.key) {
                throw std::runtime_error("a registration row has no key");
            }
            const std::string key = Utf8(row.key);
            if ((row.marks & registration::kForceRemove) && !row.valueName && !IsProtected(key) &&
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

// ---- the interface definition ----

struct Declaration {
    std::string kind;  // library, interface, dispinterface, coclass
    std::string name;
    std::vector<std::string> attributes;
    std::vector<std::string> referenced;  // interfaces a coclass names
    bool inLibrary = false;
};

std::string StripComments(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') {
            const size_t end = text.find('"', i + 1);
            const size_t stop = end == std::string::npos ? text.size() : end + 1;
            out.append(text, i, stop - i);
            i = stop - 1;
        } else if (text.compare(i, 2, "//") == 0) {
            i = text.find('\n', i);
            if (i == std::string::npos) {
                break;
            }
            out += '\n';
        } else if (text.compare(i, 2, "/*") == 0) {
            const size_t end = text.find("*/", i + 2);
            if (end == std::string::npos) {
                break;
            }
            i = end + 1;
            out += ' ';
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// Splits an attribute list at the commas outside parentheses and strings.
std::vector<std::string> SplitAttributes(const std::string& list) {
    std::vector<std::string> out;
    std::string current;
    int depth = 0;
    bool quoted = false;
    for (char c : list) {
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == '(') {
            ++depth;
        } else if (!quoted && c == ')') {
            --depth;
        } else if (!quoted && depth == 0 && c == ',') {
            out.push_back(Trim(current));
            current.clear();
            continue;
        }
        current += c;
    }
    if (!Trim(current).empty()) {
        out.push_back(Trim(current));
    }
    return out;
}

std::string ReadWord(const std::string& text, size_t& pos) {
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) {
        ++pos;
    }
    const size_t start = pos;
    while (pos < text.size() && (std::isalnum(static_cast<unsigned char>(text[pos])) || text[pos] == '_')) {
        ++pos;
    }
    return text.substr(start, pos - start);
}

// Finds each attributed declaration "[...] kind Name". The library block is
// the text between the brace after "library Name" and its matching brace.
std::vector<Declaration> ParseIdl(const std::string& source) {
    const std::string text = StripComments(source);
    std::vector<Declaration> out;
    size_t libraryStart = std::string::npos;
    size_t libraryEnd = std::string::npos;
    Declaration* coclass = nullptr;
    int coclassDepth = -1;
    int depth = 0;
    for (size_t pos = 0; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '"') {
            pos = text.find('"', pos + 1);
            if (pos == std::string::npos) {
                break;
            }
            continue;
        }
        if (c == '{') {
            ++depth;
            continue;
        }
        if (c == '}') {
            --depth;
            if (depth == coclassDepth) {
                coclass = nullptr;
                coclassDepth = -1;
            }
            if (libraryStart != std::string::npos && libraryEnd == std::string::npos && depth == 0) {
                libraryEnd = pos;
            }
            continue;
        }
        if (c != '[') {
            continue;
        }
        const size_t close = text.find(']', pos);
        if (close == std::string::npos) {
            throw std::runtime_error("unterminated attribute list in the interface definition");
        }
        Declaration d;
        d.attributes = SplitAttributes(text.substr(pos + 1, close - pos - 1));
        size_t after = close + 1;
        d.kind = ReadWord(text, after);
        d.name = ReadWord(text, after);
        d.inLibrary = libraryStart != std::string::npos && libraryEnd == std::string::npos;
        pos = after - 1;
        if (d.kind == "interface" && coclass) {
            coclass->referenced.push_back(d.name);
            continue;
        }
        if (d.kind != "library" && d.kind != "interface" && d.kind != "dispinterface" && d.kind != "coclass") {
            continue;
        }
        out.push_back(d);
        if (d.kind == "library") {
            libraryStart = after;
        } else if (d.kind == "coclass") {
            coclass = &out.back();
            coclassDepth = depth;
        }
    }
    return out;
}

bool HasAttribute(const Declaration& d, const std::string& name) {
    return std::any_of(d.attributes.begin(), d.attributes.end(),
                       [&](const std::string& a) { return Lower(a) == name; });
}

// The argument of "name(...)", without the quotes of a string; empty if absent.
std::string AttributeArgument(const Declaration& d, const std::string& name) {
    for (const auto& a : d.attributes) {
        const auto open = a.find('(');
        if (open == std::string::npos || Lower(Trim(a.substr(0, open))) != name) {
            continue;
        }
        std::string arg = Trim(a.substr(open + 1, a.rfind(')') - open - 1));
        if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"') {
            arg = arg.substr(1, arg.size() - 2);
        }
        return arg;
    }
    return {};
}

std::string RegistryGuid(const std::string& uuid) {
    if (uuid.empty()) {
        return {};
    }
    std::string g = Upper(uuid);
    return g.front() == '{' ? g : "{" + g + "}";
}

void TypeLibraryRows(std::vector<WixRow>& rows64, std::vector<WixRow>& rows32, const std::string& idlText,
                     const std::string& fileRef, const std::string& folderRef) {
    const auto declarations = ParseIdl(idlText);
    const auto library = std::find_if(declarations.begin(), declarations.end(),
                                      [](const Declaration& d) { return d.kind == "library"; });
    if (library == declarations.end()) {
        throw std::runtime_error("the interface definition declares no library");
    }
    const std::string libId = RegistryGuid(AttributeArgument(*library, "uuid"));
    if (libId != Upper(Utf8(registration::kLibId))) {
        throw std::runtime_error("the library's uuid " + libId + " is not the registration table's LIBID " +
                                 Utf8(registration::kLibId));
    }
    std::string version = AttributeArgument(*library, "version");
    if (version.empty()) {
        version = "0.0";
    }
    if (version.find('.') == std::string::npos) {
        version += ".0";
    }
    const std::string lcidText = AttributeArgument(*library, "lcid");
    char lcid[16];
    std::snprintf(lcid, sizeof lcid, "%lx", lcidText.empty() ? 0UL : std::stoul(lcidText, nullptr, 0));
    unsigned flags = kLibFlagHasDiskImage;
    if (HasAttribute(*library, "restricted")) flags |= 1;
    if (HasAttribute(*library, "control")) flags |= 2;
    if (HasAttribute(*library, "hidden")) flags |= 4;

    const std::string base = "TypeLib\\" + libId + "\\" + version;
    const std::string help = AttributeArgument(*library, "helpstring");
    if (!help.empty()) {
        AddRow(rows64, {base, "", help, false});
    }
    AddRow(rows64, {base + "\\" + lcid + "\\win64", "", fileRef, true});
    AddRow(rows64, {base + "\\FLAGS", "", std::to_string(flags), false});
    AddRow(rows64, {base + "\\HELPDIR", "", folderRef, true});

    // The automation interfaces of the library: those declared in it and those
    // its classes name.
    std::vector<std::string> inLibrary;
    for (const auto& d : declarations) {
        if (d.inLibrary) {
            inLibrary.push_back(d.name);
            inLibrary.insert(inLibrary.end(), d.referenced.begin(), d.referenced.end());
        }
    }
    for (const auto& d : declarations) {
        const bool automation = d.kind == "dispinterface" ||
                                (d.kind == "interface" && (HasAttribute(d, "dual") || HasAttribute(d, "oleautomation")));
        if (!automation || std::find(inLibrary.begin(), inLibrary.end(), d.name) == inLibrary.end()) {
            continue;
        }
        const std::string iid = RegistryGuid(AttributeArgument(d, "uuid"));
        if (iid.empty()) {
            throw std::runtime_error("the interface " + d.name + " has no uuid");
        }
        const bool dispatchOnly = d.kind == "dispinterface";
        const std::string key = "Interface\\" + iid;
        for (auto* rows : {&rows64, &rows32}) {
            AddRow(*rows, {key, "", d.name, false});
            AddRow(*rows, {key + "\\ProxyStubClsid", "", dispatchOnly ? kDispatchMarshaler : kUniversalMarshaler, false});
            AddRow(*rows, {key + "\\ProxyStubClsid32", "", dispatchOnly ? kDispatchMarshaler : kUniversalMarshaler, false});
            AddRow(*rows, {key + "\\TypeLib", "", libId, false});
            AddRow(*rows, {key + "\\TypeLib", "Version", version, false});
        }
    }
}

void WriteInclude(const std::string& path, const std::vector<WixRow>& rows, bool firstIsKeyPath) {
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        << "<!-- Generated by registry-rows from the registration table and the type library's definition. -->\n"
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
    if (argc != 7) {
        std::cerr << "usage: registry-rows IDL FILE_REF FOLDER_REF OUT64 OUT32 REMOVE_IDT\n";
        return 2;
    }
    try {
        std::ifstream idl(argv[1], std::ios::binary);
        if (!idl) {
            throw std::runtime_error(std::string("cannot read ") + argv[1]);
        }
        std::ostringstream idlText;
        idlText << idl.rdbuf();

        std::vector<WixRow> rows64;
        std::vector<WixRow> rows32;
        std::vector<std::string> forceRemoved;
        TableRows(rows64, forceRemoved, argv[2]);
        TypeLibraryRows(rows64, rows32, idlText.str(), argv[2], argv[3]);
        WriteInclude(argv[4], rows64, false);
        WriteInclude(argv[5], rows32, true);
        // The component of the DLL, as in ItemPlugin.wxs.
        WriteRemoveTable(argv[6], forceRemoved, "ItemPluginDll");
    } catch (const std::exception& e) {
        std::cerr << "registry-rows: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
