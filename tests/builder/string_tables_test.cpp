// String tables as the launcher reads them: blocks of 16 entries per language.
#include "string_tables.h"

#include <gtest/gtest.h>

namespace {

using namespace corvane::builder;

TEST(StringTables, BlocksHoldSixteenEntriesAndOnlyBlocksWithText) {
  ResourceTree tree;
  WriteStringTable(tree, 0, {{1001, u"17"}, {1043, u"0"}, {1012, u"ABC"}});
  const auto blocks = tree.OfType(ResourceType::String);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0]->name.id, 63);  // 992..1007
  EXPECT_EQ(blocks[1]->name.id, 64);  // 1008..1023
  EXPECT_EQ(blocks[2]->name.id, 66);  // 1040..1055
  // Block 63: entries 992..1000 empty, 1001 "17", then 1002..1007 empty.
  const Bytes& b = blocks[0]->data;
  ASSERT_EQ(b.size(), 16u * 2 + 2 * 2);  // 16 lengths and the two units of "17"
  EXPECT_EQ(b[2 * 9], 2);
  EXPECT_EQ(b[2 * 9 + 2], '1');
  StringEntries back;
  ASSERT_FALSE(ReadStringTable(tree, 0, back));
  EXPECT_EQ(back, (StringEntries{{1001, u"17"}, {1012, u"ABC"}, {1043, u"0"}}));
}

TEST(StringTables, WritingOneLanguageLeavesTheOthers) {
  ResourceTree tree;
  WriteStringTable(tree, 3081, {{1, u"English"}, {21, u"Only"}});
  WriteStringTable(tree, 1031, {{1, u"Deutsch"}});
  WriteStringTable(tree, 3081, {{1, u"Changed"}});
  StringEntries english, german;
  ASSERT_FALSE(ReadStringTable(tree, 3081, english));
  ASSERT_FALSE(ReadStringTable(tree, 1031, german));
  EXPECT_EQ(english, (StringEntries{{1, u"Changed"}}));
  EXPECT_EQ(german, (StringEntries{{1, u"Deutsch"}}));
  EXPECT_EQ(StringTableLanguages(tree), (std::vector<uint16_t>{1031, 3081}));
}

TEST(StringTables, ABlockWhoseLengthsLieIsAnError) {
  ResourceTree tree;
  tree.Put(ResourceType::String, ResourceKey::Id(1), 0, Bytes{5, 0, 'a', 0});
  StringEntries entries;
  EXPECT_TRUE(ReadStringTable(tree, 0, entries).has_value());
}

}  // namespace
