#include "tools/cachewriter/CacheWriter.h"

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/UniqueResource.h"

namespace {

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
        char code[16];
        snprintf(code, sizeof(code), "0x%08lX", static_cast<unsigned long>(hr));
        throw std::runtime_error(std::string(what) + ": " + code);
    }
}

// Spelled out here from the stored layout, independently of the plug-in's own
// code, so that a fault in the plug-in's names shows as a missing item.
std::wstring StoredKey(const std::wstring& fileName, wchar_t suffix) {
    // A reserved character is escaped as "%" and its two-digit place in this list.
    constexpr std::wstring_view kReserved = L"/%*:|!\n\r\t?\"";
    // The extension ".<item>" is 7 code units; a shorter name leaves nothing.
    const std::wstring base = fileName.size() > 7 ? fileName.substr(0, fileName.size() - 7) : std::wstring();
    std::wstring key;
    for (wchar_t c : base + suffix) {
        const size_t at = kReserved.find(c);
        if (at == std::wstring_view::npos) {
            key += c;
        } else {
            key += {L'%', static_cast<wchar_t>(L'0' + at / 10), static_cast<wchar_t>(L'0' + at % 10)};
        }
    }
    return key;
}

// Opens (or, with create, creates) the storages along all names but the last,
// into path after root: a storage stays usable only while its parents are open.
HRESULT OpenStorages(IStorage* root, const std::vector<std::wstring>& names, DWORD mode, bool create,
                     std::vector<ComPtr<IStorage>>& path) {
    path.assign(1, ComPtr<IStorage>(root));
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        ComPtr<IStorage> next;
        HRESULT hr = path.back()->OpenStorage(names[i].c_str(), nullptr, mode | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                              next.Put());
        if (hr == STG_E_FILENOTFOUND && create) {
            hr = path.back()->CreateStorage(names[i].c_str(), STGM_CREATE | mode | STGM_SHARE_EXCLUSIVE, 0, 0,
                                            next.Put());
        }
        if (FAILED(hr)) return hr;
        path.push_back(std::move(next));
    }
    return S_OK;
}

}  // namespace

std::wstring StoredItemKey(const std::wstring& fileName) { return StoredKey(fileName, L'I'); }
std::wstring StoredChildrenKey(const std::wstring& fileName) { return StoredKey(fileName, L'C'); }

std::vector<std::wstring> ElementNames(const std::wstring& key) {
    // Storages of 30 code units and "F" while more than 30 remain; the last 1 to
    // 30 (none for an empty key) and "S" name the stream.
    std::vector<std::wstring> names;
    std::wstring rest = key;
    while (rest.size() > 30) {
        names.push_back(rest.substr(0, 30) + L"F");
        rest.erase(0, 30);
    }
    names.push_back(rest + L"S");
    return names;
}

CacheWriter::CacheWriter(const std::wstring& path, CacheLayout layout) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        Check(StgOpenStorageEx(path.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_ANY, 0, nullptr, nullptr,
                               IID_IStorage, root_.PutVoid()),
              "cannot open cache file");
        return;
    }
    STGOPTIONS options{1, 0, layout == CacheLayout::Version3 ? 512ul : 4096ul, nullptr};
    Check(StgCreateStorageEx(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_DOCFILE, 0,
                             &options, nullptr, IID_IStorage, root_.PutVoid()),
          "cannot create cache file");
    const std::wstring header = L"KESTRELMAR Enterprise Item Cache1";
    Bytes bytes(reinterpret_cast<const std::uint8_t*>(header.c_str()),
                reinterpret_cast<const std::uint8_t*>(header.c_str() + header.size() + 1));
    WriteStream(L"headerstream", bytes);
}

std::vector<ComPtr<IStorage>> CacheWriter::OpenPath(const std::wstring& key, std::wstring& leaf) {
    const std::vector<std::wstring> names = ElementNames(key);
    std::vector<ComPtr<IStorage>> path;
    Check(OpenStorages(root_.Get(), names, STGM_READWRITE, true, path), "cannot open storage");
    leaf = names.back();
    return path;
}

void CacheWriter::WriteStream(const std::wstring& key, const Bytes& bytes) {
    std::wstring leaf;
    const auto path = OpenPath(key, leaf);
    ComPtr<IStream> stream;
    Check(path.back()->CreateStream(leaf.c_str(), STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.Put()),
          ("cannot create stream " + std::to_string(leaf.size())).c_str());
    ULONG written = 0;
    if (!bytes.empty()) {
        Check(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), "cannot write stream");
        if (written != bytes.size()) throw std::runtime_error("short write");
    }
    Check(root_->Commit(STGC_DEFAULT), "cannot commit");
}

void CacheWriter::CreateStorages(const std::wstring& key) {
    std::wstring leaf;
    OpenPath(key, leaf);
    Check(root_->Commit(STGC_DEFAULT), "cannot commit");
}

void CacheWriter::WriteItem(const std::wstring& fileName, const StoredRecord& record) {
    WriteStream(StoredItemKey(fileName), record.Serialize());
}

void CacheWriter::WriteChildren(const std::wstring& fileName, const std::vector<StoredRecord>& children) {
    WriteStream(StoredChildrenKey(fileName), ChildrenStream(children));
}

bool ReadStreamAt(IStorage* root, const std::vector<std::wstring>& names, Bytes& out) {
    std::vector<ComPtr<IStorage>> path;
    ComPtr<IStream> stream;
    STATSTG stat{};
    if (FAILED(OpenStorages(root, names, STGM_READ, false, path)) ||
        FAILED(path.back()->OpenStream(names.back().c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                       stream.Put())) ||
        FAILED(stream->Stat(&stat, STATFLAG_NONAME))) {
        return false;
    }
    out.assign(static_cast<size_t>(stat.cbSize.QuadPart), 0);
    ULONG got = 0;
    return out.empty() ||
           (SUCCEEDED(stream->Read(out.data(), static_cast<ULONG>(out.size()), &got)) && got == out.size());
}

std::vector<std::wstring> ElementsOf(IStorage* storage) {
    std::vector<std::wstring> names;
    ComPtr<IEnumSTATSTG> elements;
    if (FAILED(storage->EnumElements(0, nullptr, 0, elements.Put()))) return names;
    STATSTG stat{};
    while (elements->Next(1, &stat, nullptr) == S_OK) {
        const UniqueCoTaskMem name(stat.pwcsName);
        names.push_back(stat.pwcsName);
    }
    return names;
}
