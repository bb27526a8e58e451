// Element keys and element names of items.
#include <gtest/gtest.h>

#include "cache/ItemKeys.h"
#include "cache/StorageChain.h"
#include "tools/cachewriter/CacheWriter.h"

namespace {

TEST(ItemKeys, KeysDropTheExtensionAndEscapeReservedCharacters) {
    struct Case {
        const wchar_t* fileName;
        const wchar_t* itemKey;
        const wchar_t* childrenKey;
    };
    const Case cases[] = {
        {L"Plan A.<item>", L"Plan AI", L"Plan AC"},
        {L"50%.<item>", L"50%01I", L"50%01C"},
        {L"a/b:c.<item>", L"a%00b%03cI", L"a%00b%03cC"},
        {L"say \"hi\".<item>", L"say %10hi%10I", L"say %10hi%10C"},
        {L"%01.<item>", L"%0101I", L"%0101C"},
        {L".<item>", L"I", L"C"},
        {L"abc", L"I", L"C"},
        {L"", L"I", L"C"},
        {L"x.other", L"I", L"C"},  // the last 7 code units go whatever they are
        {L"back\\slash <angle>.<item>", L"back\\slash <angle>I", L"back\\slash <angle>C"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ItemKey(c.fileName), c.itemKey) << std::wstring(c.fileName).c_str();
        EXPECT_EQ(ChildrenKey(c.fileName), c.childrenKey);
        // The test cache writer spells keys on its own; both follow the same rule.
        EXPECT_EQ(StoredItemKey(c.fileName), c.itemKey);
        EXPECT_EQ(StoredChildrenKey(c.fileName), c.childrenKey);
    }
}

TEST(ItemKeys, EveryReservedCharacterHasItsEscape) {
    EXPECT_EQ(EncodeName(L"/%*:|!\n\r\t?\""), L"%00%01%02%03%04%05%06%07%08%09%10");
    EXPECT_EQ(EncodeName(L"%%"), L"%01%01") << "escapes are never examined again";
    EXPECT_EQ(EncodeName(L"plain text"), L"plain text");
}

TEST(ItemKeys, DecodingTurnsEveryEscapeBackAndFlagsKeysNeverFormed) {
    for (const wchar_t* text : {L"/%*:|!\n\r\t?\"", L"%01", L"50%", L"plain", L"", L"%%10"}) {
        CString decoded;
        EXPECT_TRUE(DecodeName(EncodeName(text), decoded)) << text;
        EXPECT_EQ(decoded, text);
    }
    CString decoded;
    EXPECT_FALSE(DecodeName(L"a%11b", decoded)) << "an escape past the list";
    EXPECT_EQ(decoded, L"a%11b");
    EXPECT_FALSE(DecodeName(L"100%", decoded)) << "a bare percent sign";
    EXPECT_FALSE(DecodeName(L"a:b", decoded)) << "a bare reserved character";

    const DecodedKey item = DecodeKey(ItemKey(L"50%.<item>"));
    EXPECT_EQ(item.kind, KeyKind::Item);
    EXPECT_EQ(item.name, L"50%");
    EXPECT_TRUE(item.wellFormed);
    const DecodedKey children = DecodeKey(ChildrenKey(L"a/b.<item>"));
    EXPECT_EQ(children.kind, KeyKind::Children);
    EXPECT_EQ(children.name, L"a/b");
    EXPECT_EQ(DecodeKey(L"headerstream").kind, KeyKind::Other);
    EXPECT_EQ(DecodeKey(L"").kind, KeyKind::Other);
    EXPECT_EQ(DecodeKey(L"I").name, L"") << "names of 7 code units or fewer share the key \"I\"";
}

TEST(SplitKey, LongKeysNestStoragesOfThirtyCodeUnits) {
    auto split = [](size_t length) {
        std::wstring key;
        for (size_t i = 0; i < length; ++i) key += static_cast<wchar_t>(L'a' + i % 26);
        StoragePath path;
        SplitKey(key, path);
        std::vector<std::wstring> elements = path.names;
        elements.push_back(path.leafName);
        EXPECT_EQ(ElementNames(key), elements) << "the test cache writer splits the same way";
        std::wstring joined;
        EXPECT_TRUE(JoinKey(path.names, path.leafName, joined)) << length;
        EXPECT_EQ(joined, key) << "joining the split gives the key back";
        struct {
            std::wstring key;
            std::vector<std::wstring> names;
            std::wstring leafName;
        } split{key, path.names, path.leafName};
        return split;
    };
    {
        auto [key, names, leafName] = split(0);
        EXPECT_TRUE(names.empty());
        EXPECT_EQ(leafName, L"S");
    }
    {
        auto [key, names, leafName] = split(30);
        EXPECT_TRUE(names.empty());
        EXPECT_EQ(leafName, key + L"S");
        EXPECT_EQ(leafName.size(), 31u);
    }
    {
        auto [key, names, leafName] = split(31);
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(names[0], key.substr(0, 30) + L"F");
        EXPECT_EQ(leafName, key.substr(30) + L"S");
    }
    {
        auto [key, names, leafName] = split(60);
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(leafName, key.substr(30) + L"S");
    }
    {
        auto [key, names, leafName] = split(65);
        ASSERT_EQ(names.size(), 2u);
        EXPECT_EQ(names[1], key.substr(30, 30) + L"F");
        EXPECT_EQ(leafName, key.substr(60) + L"S");
    }
    {
        auto [key, names, leafName] = split(400);
        EXPECT_EQ(names.size(), 13u);
        EXPECT_EQ(leafName, key.substr(390) + L"S");
    }
}

TEST(SplitKey, JoiningRejectsNamesNoSplitGives) {
    const std::wstring storage = std::wstring(30, L'a') + L"F";
    std::wstring key;
    EXPECT_FALSE(JoinKey({}, L"", key)) << "no stream name";
    EXPECT_FALSE(JoinKey({}, L"abcI", key)) << "no \"S\"";
    EXPECT_FALSE(JoinKey({}, std::wstring(31, L'a') + L"S", key)) << "too long for an element name";
    EXPECT_FALSE(JoinKey({storage}, L"S", key)) << "below a storage the stream holds part of the key";
    EXPECT_FALSE(JoinKey({L"shortF"}, L"xS", key));
    EXPECT_FALSE(JoinKey({std::wstring(30, L'a') + L"G"}, L"xS", key));
    EXPECT_TRUE(IsKeyStorageName(storage));
    EXPECT_FALSE(IsKeyStorageName(L"ObjectPool"));
    ASSERT_TRUE(JoinKey({}, L"S", key));
    EXPECT_EQ(key, L"") << "the empty key's stream lies at the root";
}

TEST(StorageResults, MappingKeepsTheCacheCodesAndFoldsTheRest) {
    EXPECT_EQ(MapStorageResult(STG_E_FILENOTFOUND), static_cast<HRESULT>(0x80040213));
    EXPECT_EQ(MapStorageResult(STG_E_INVALIDNAME), static_cast<HRESULT>(0x8004021D));
    EXPECT_EQ(MapStorageResult(static_cast<HRESULT>(0x80040213)), static_cast<HRESULT>(0x80040213));
    EXPECT_EQ(MapStorageResult(static_cast<HRESULT>(0x8004021D)), static_cast<HRESULT>(0x8004021D));
    EXPECT_EQ(MapStorageResult(STG_E_SHAREVIOLATION), static_cast<HRESULT>(0x80040228));
    EXPECT_EQ(MapStorageResult(E_FAIL), static_cast<HRESULT>(0x80040228));
    EXPECT_EQ(MapStorageResult(S_FALSE), S_FALSE);
}

}  // namespace
