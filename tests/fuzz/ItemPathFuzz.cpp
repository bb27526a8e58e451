// The navigator's item path: the parts it splits off join back to the path,
// the marker is the first "<items>", the item name is the last component, and
// the keys of that name split into element names a compound file holds.
//
// Input: byte 0 picks the drive number the platform answers (0: a letter and a
// colon at the start, as a drive letter looks; 1: none; else a drive), the
// rest is the path (UTF-16LE).
#include "cache/ItemKeys.h"
#include "cache/KeySplit.h"
#include "plugin/ItemPath.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

constexpr std::size_t kElementNameUnits = 31;

int DriveOf(UnitView path, std::uint8_t pick) {
    if (pick == 1) return -1;
    if (pick > 1) return (pick - 2) % 26;
    if (path.size() < 2 || path[1] != u':') return -1;
    const CodeUnit letter = path[0] | 0x20;
    return letter >= u'a' && letter <= u'z' ? letter - u'a' : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const UnitString path = UnitsOf({data + 1, size - 1});
    const int drive = DriveOf(path, data[0]);
    const UnitView marker = u"<items>";

    ItemPathParts parts;
    const bool split = SplitItemPath(path, drive, parts);
    FUZZ_CHECK(parts.drive == drive);
    FUZZ_CHECK(split == (drive != -1 && path.find(marker) != UnitString::npos));
    if (split) {
        FUZZ_CHECK(parts.marker == path.find(marker));
        FUZZ_CHECK(parts.viewRoot + path.substr(parts.marker) == path);
        FUZZ_CHECK(UnitView(path).substr(parts.marker, marker.size()) == marker);
    } else if (drive == -1) {
        FUZZ_CHECK(parts.marker == UnitString::npos && parts.viewRoot.empty());
    }

    const UnitString name = ItemName(path);
    FUZZ_CHECK(name.find(u'\\') == UnitString::npos);
    FUZZ_CHECK(name.size() <= path.size() && path.compare(path.size() - name.size(), name.size(), name) == 0);
    const std::size_t rest = path.size() - name.size();
    FUZZ_CHECK(rest == 0 ? path.find(u'\\') == UnitString::npos : path[rest - 1] == u'\\');

    // The item as the plug-in asks the cache for it; a host's path ends at its first NUL.
    if (name.find(u'\0') != UnitString::npos) return 0;
    for (const UnitString& key : {ItemKey(name), ChildrenKey(name)}) {
        std::vector<UnitString> storages;
        UnitString stream;
        SplitKey(key, storages, stream);
        for (const UnitString& storage : storages) FUZZ_CHECK(storage.size() <= kElementNameUnits);
        FUZZ_CHECK(stream.size() <= kElementNameUnits);
    }
    return 0;
}
