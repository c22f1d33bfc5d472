#include "base/string_block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A string-table block as the resource compiler lays it out.
std::vector<unsigned char> Block(const std::vector<std::u16string>& entries) {
  std::vector<unsigned char> block;
  for (const auto& entry : entries) {
    block.push_back(static_cast<unsigned char>(entry.size() & 0xFF));
    block.push_back(static_cast<unsigned char>(entry.size() >> 8));
    for (char16_t unit : entry) {
      block.push_back(static_cast<unsigned char>(unit & 0xFF));
      block.push_back(static_cast<unsigned char>(unit >> 8));
    }
  }
  return block;
}

std::u16string EntryText(const std::vector<unsigned char>& block, size_t offset, size_t count) {
  std::u16string text;
  for (size_t i = 0; i < count; ++i) {
    text.push_back(static_cast<char16_t>(block[offset + 2 * i] | (block[offset + 2 * i + 1] << 8)));
  }
  return text;
}

TEST(StringBlock, FindsEachEntryOfAFullBlock) {
  std::vector<std::u16string> entries;
  for (int i = 0; i < 16; ++i) entries.push_back(std::u16string(static_cast<size_t>(i), u'a' + i));
  const auto block = Block(entries);
  for (unsigned i = 0; i < 16; ++i) {
    size_t offset = 0, count = 0;
    ASSERT_TRUE(FindStringBlockEntry(block.data(), block.size(), i, &offset, &count)) << i;
    EXPECT_EQ(EntryText(block, offset, count), entries[i]);
  }
}

TEST(StringBlock, RefusesEntriesThatRunPastTheBlock) {
  auto block = Block({u"abc", u"defg"});
  size_t offset = 0, count = 0;
  // Cut inside the second entry's text: the first stays readable, the second does not.
  const size_t cut = block.size() - 1;
  EXPECT_TRUE(FindStringBlockEntry(block.data(), cut, 0, &offset, &count));
  EXPECT_FALSE(FindStringBlockEntry(block.data(), cut, 1, &offset, &count));
  // A lying length in the first entry hides everything behind it.
  block[0] = 0xFF;
  block[1] = 0x7F;
  EXPECT_FALSE(FindStringBlockEntry(block.data(), block.size(), 0, &offset, &count));
  EXPECT_FALSE(FindStringBlockEntry(block.data(), block.size(), 1, &offset, &count));
  // Entries beyond the data, an odd trailing byte, and an index past 15.
  EXPECT_FALSE(FindStringBlockEntry(block.data(), 1, 0, &offset, &count));
  const auto small = Block({u"x"});
  EXPECT_FALSE(FindStringBlockEntry(small.data(), small.size(), 1, &offset, &count));
  EXPECT_FALSE(FindStringBlockEntry(small.data(), small.size(), 16, &offset, &count));
  EXPECT_FALSE(FindStringBlockEntry(nullptr, 0, 0, &offset, &count));
}

TEST(MessageEscapes, TurnBackslashNIntoALineBreakOnly) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {{"a\\nb", "a\nb"},          {"a\\tb", "a\\tb"},   {"end\\", "end"},
               {"\\\\n", "\\\\n"},         {"\\n\\n", "\n\n"},   {"100% sure", "100% sure"},
               {"C:\\dir\\new", "C:\\dir\new"}, {"", ""}};
  for (const Case& c : cases) {
    std::string text = c.text;
    ExpandMessageEscapes(text.data());
    EXPECT_STREQ(text.c_str(), c.expected) << c.text;
  }
}

}  // namespace
