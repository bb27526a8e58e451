// Writes the fuzz targets' seed inputs into the folder given, one folder per
// target: records and children lists from the test cache writer's layout,
// keys, item paths, GUID texts and compound-file headers. The seeds are kept
// in the source tree; run this again when the inputs' layout changes:
//     seed_corpus tests/fuzz/corpus
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/cachewriter/StoredRecord.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& folder, const std::string& name, const Bytes& bytes) {
    fs::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes With(Bytes control, const Bytes& rest) {
    control.insert(control.end(), rest.begin(), rest.end());
    return control;
}

Bytes Utf16(std::u16string_view text) {
    Bytes out;
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

StoredRecord Child(std::u16string name, std::u16string path, std::int32_t itemType, std::int32_t state,
                   std::int32_t linkType) {
    StoredRecord record;
    record.name = std::move(name);
    record.path = std::move(path);
    record.itemType = itemType;
    record.state = state;
    record.linkType = linkType;
    return record;
}

// Children lists: the demo's, long texts, old and damaged records.
std::vector<std::pair<std::string, Bytes>> Lists() {
    const std::vector<StoredRecord> demo = {
        Child(u"Bracket.drw", u"C:\\Vault\\Drawings\\Bracket.drw", 2, 0, 6),
        Child(u"Plate.prt", u"C:\\Vault\\Parts\\Plate.prt", 1, 0, 4),
        Child(u"Bolt M8", u"C:\\Vault\\Library\\Bolt M8.prt", 3, 0, 4),
        Child(u"Withdrawn.prt", u"C:\\Vault\\Parts\\Withdrawn.prt", 1, 3, 4),
        Child(u"Notes.txt", u"C:\\Vault\\Docs\\Notes.txt", 7, 0, 1),
    };
    StoredRecord full = Child(std::u16string(260, u'n'), std::u16string(520, u'p'), 1, 0, 4);
    StoredRecord old;
    old.recordVersion = 0;
    StoredRecord negative;
    negative.recordVersion = -1;
    StoredRecord odd = Child(u"odd", u"C:\\odd", 1, 0, 4);
    odd.nameBytes = 5;  // half a code unit at the end
    StoredRecord tooLong = Child(u"x", u"y", 1, 0, 4);
    tooLong.nameBytes = 522;
    StoredRecord below = Child(u"x", u"y", 1, 0, 4);
    below.pathBytes = -2;
    StoredRecord nul = Child(std::u16string(u"a\0b", 3), u"C:\\a", 2, 0, 6);

    Bytes cut = ChildrenStream(demo);
    cut.resize(cut.size() - 9);
    std::vector<StoredRecord> many;
    for (int i = 0; i < 40; ++i) many.push_back(Child(u"Part" + std::u16string(i % 7 + 1, u'0' + i % 10), u"C:\\Vault\\P", 1 + i % 3, i % 5, 4 + i % 3));
    return {
        {"demo", ChildrenStream(demo)},
        {"full-texts", ChildrenStream({full, demo[0]})},
        {"old-records", ChildrenStream({old, old, demo[1], negative})},
        {"odd-name", ChildrenStream({odd, demo[2]})},
        {"name-too-long", ChildrenStream({demo[0], tooLong})},
        {"negative-path", ChildrenStream({below})},
        {"nul-in-name", ChildrenStream({nul})},
        {"count-too-large", ChildrenStream(demo, 4000000000u)},
        {"count-zero", ChildrenStream({}, 0)},
        {"cut-short", cut},
        {"many", ChildrenStream(many)},
        {"stub", Bytes{1, 2, 3, 4, 5}},
    };
}

Bytes Header(std::uint16_t major, std::uint16_t shift) {
    Bytes header(512, 0);
    const std::uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(std::begin(signature), std::end(signature), header.begin());
    const auto word = [&](std::size_t at, std::uint16_t value) {
        header[at] = static_cast<std::uint8_t>(value & 0xFF);
        header[at + 1] = static_cast<std::uint8_t>(value >> 8);
    };
    word(0x18, 0x3E);
    word(0x1A, major);
    word(0x1C, 0xFFFE);
    word(0x1E, shift);
    word(0x20, 6);
    return header;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: seed_corpus FOLDER\n");
        return 2;
    }
    const fs::path root = argv[1];
    for (const auto& [name, list] : Lists()) {
        // record: piece size, where the stream stops (0: never), failed read.
        Write(root / "record", name, With({0, 0, 0}, list));
        Write(root / "record", name + "-pieces", With({3, 9, 1}, list));
        // references: filter and piecewise, refused allocation, piece size.
        Write(root / "references", name, With({0, 0, 0, 0}, list));
        Write(root / "references", name + "-type3-pieces", With({3, 0, 0, 5}, list));
        Write(root / "references", name + "-fail3", With({0, 3, 0, 0}, list));
    }
    // The item record alone, as the item's own stream holds it.
    Write(root / "record", "item", With({0, 0, 0}, Child(u"Bracket", u"", 1, 0, -1).Serialize()));

    const std::u16string keys[] = {u"Plan A", u"50%", u"a/b:c*d|e!f\ng\rh\ti?j\"k", u"%01%10%11%", u"",
                                   std::u16string(65, u'k'), u"Bracket.<item>"};
    int i = 0;
    for (const std::u16string& key : keys) Write(root / "keys", "key" + std::to_string(i++), Utf16(key));

    const std::u16string paths[] = {u"C:\\Vault\\<items>\\Bracket.<item>", u"\\\\server\\share\\<items>\\x.<item>",
                                    u"C:\\Vault\\<ITEMS>\\x.<item>", u"C:\\Vault\\<items>\\<items>\\a:b.<item>",
                                    u"Bracket.<item>", u"C:\\Vault\\<items>\\"};
    i = 0;
    for (const std::u16string& path : paths) Write(root / "itempath", "path" + std::to_string(i++), With({0}, Utf16(path)));

    const std::string guids[] = {"{ABCDEF01-2345-6789-ABCD-EF0123456789}", "{5eed0001-2222-4333-8444-555555555555}",
                                 "{1-2-3-4567-89ABCDEF0123}", "{ -0x1234-+2-3--5-6-89ABCDEF0123}trailing",
                                 "{ABCDEF01-2345-6789-ABCD-EF01234567}"};
    i = 0;
    for (const std::string& guid : guids) Write(root / "guid", "guid" + std::to_string(i++), With({0}, Bytes(guid.begin(), guid.end())));
    Write(root / "guid", "wide", With({1}, Utf16(u"{ABCDEF01-2345-6789-ABCD-EF0123456789\u3000}")));

    Write(root / "header", "version4", Header(4, 12));
    Write(root / "header", "version3", Header(3, 9));
    Write(root / "header", "mismatched", Header(4, 9));
    Bytes cut = Header(4, 12);
    cut.resize(0x21);  // a byte before the last field
    Write(root / "header", "short", cut);
    return 0;
}
