// Texts, option texts and paths (the splitting rules users meet in command lines and option texts,
// buffers never written past), and how the launcher reads the texts of its settings table.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "base/scramble.h"
#include "base/setting_decode.h"
#include "base/string_block.h"
#include "base/text.h"
#include "base/trace.h"

namespace {

TEST(AppendText, MayAppendItsOwnText) {
  ScopedTextBuffer buffer;
  EXPECT_TRUE(AppendText(&buffer, nullptr) && AppendText(&buffer, "") && buffer.text == nullptr);
  ASSERT_TRUE(AppendText(&buffer, std::string(256, 'a').c_str()) && AppendText(&buffer, std::string(544, 'a').c_str()));
  ASSERT_TRUE(AppendText(&buffer, buffer.text));  // grows by four times the text: 1024 + 3200
  EXPECT_EQ(std::string(buffer.text) + std::to_string(buffer.capacity), std::string(1600, 'a') + "4224");
}

TEST(NextToken, YieldsTheNonEmptyFields) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {";;a;;b;", {"a", "b"}}, {";;", {}}, {" a ; b", {" a ", " b"}}};
  for (const auto& [text, tokens] : cases) {
    std::string copy = text;
    char* position = nullptr;
    std::vector<std::string> got;
    while (const char* token = NextToken(copy.data(), ";", &position)) got.push_back(token);
    EXPECT_EQ(got, tokens) << text;
  }
}

TEST(SplitCommandLine, GivesTheArgumentsAsTheyHaveAlwaysBeenSplit) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {nullptr, {}}, {"", {}}, {"a  b", {"a", "", "b"}},  // every space ends an argument
      {"a   ", {"a", "", ""}},                            // but a final one makes none
      {"   ", {""}}, {"   a\tb", {"a\tb"}},
      {"\"C:\\Program Files\\run.exe\" x", {"C:\\Program Files\\run.exe", "x"}},
      {"-Dname=\"a b\" -Dx=1", {"-Dname=a b", "-Dx=1"}}, {"a\\\"b", {"a\"b"}}, {"\\\"a b", {"\"a", "b"}},
      {"a\\\\b", {"a\\\\b"}}, {"\"abc\"def", {"abcde"}},  // a quoted token loses its last character
      {"\"", {""}}, {"\"\" x", {"", "x"}}, {"a \"b c", {"a", "b "}}, {"a \"b c ", {"a"}},
      {"C:\\dir\\", {"C:\\dir"}}, {"a\\ b", {"a", "b"}}, {"\\\\\\\"", {"\\\\\""}}};
  for (const auto& [text, arguments] : cases) {
    for (const bool reserveFirst : {false, true}) {
      ArgumentList list;
      EXPECT_TRUE(SplitCommandLine(text, &list.count, &list.items, reserveFirst));
      ASSERT_EQ(list.count, static_cast<int>(arguments.size()) + reserveFirst) << (text ? text : "(null)");
      EXPECT_EQ(std::vector<std::string>(list.items + reserveFirst, list.items + list.count), arguments) << text;
      EXPECT_TRUE(reserveFirst ? list.items[0] == nullptr : (list.count == 0) == (list.items == nullptr));
    }
  }
}

TEST(JoinPath, JoinsWithOneBackslashOrRefusesWhatDoesNotFit) {
  const std::string x255(255, 'x'), x256(256, 'x');
  const struct { std::string first, second, result; } cases[] = {  // "" for refused
      {"C:\\jre\\", "bin", "C:\\jre\\bin"}, {"C:/jre/", "bin", "C:/jre/\\bin"}, {x255, "abc", x255 + "\\abc"},
      {x256, "abc", ""}, {x255 + "\\", "abc", x255 + "\\abc"}, {x256 + "\\", "abc", ""}};
  for (const auto& c : cases) {
    std::string memory(PathCapacity + 64, '#');
    EXPECT_EQ(JoinPath(memory.data(), c.first.c_str(), c.second.c_str()), c.result.empty() ? nullptr : memory.data());
    EXPECT_EQ(std::string(memory.c_str()), c.result) << c.first.size();
    EXPECT_EQ(memory.substr(PathCapacity), std::string(64, '#')) << "written past";
  }
  char path[PathCapacity] = "C:\\jre";
  EXPECT_STREQ(JoinPath(path, path, "bin"), "C:\\jre\\bin");  // callers pass their destination as a part
}

TEST(SettingTexts, FlagsAreFalseOnlyForALeadingZeroAndNumbersReadLikeAtoiButSaturate) {
  for (const char* text : {"0", "01", "0abc"}) EXPECT_FALSE(DecodeFlag(text)) << text;
  for (const char* text : {"1", "", " 0", "<null>", "false"}) EXPECT_TRUE(DecodeFlag(text)) << text;
  const std::pair<const char*, int32_t> numbers[] = {{"  42abc", 42}, {"\t-7", -7}, {"+5", 5}, {"<null>", 0}, {"- 5", 0},
      {"2147483648", INT32_MAX}, {"99999999999999999999", INT32_MAX}, {"-99999999999999999999", INT32_MIN}};
  for (const auto& [text, number] : numbers) EXPECT_EQ(DecodeNumber(text), number) << text;
  EXPECT_TRUE(PriorityClassIndex(0) == 0 && PriorityClassIndex(5) == 5 && PriorityClassIndex(6) == -1 && PriorityClassIndex(-1) == -1);
}

TEST(SettingTexts, TheIniNameTakesTheApplicationsName) {
  const std::pair<const char*, const char*> cases[] = {
      {"conf\\%AppName%-%appname%.cfg", "conf\\Viewer-Viewer.cfg"}, {"%HOME%x.ini", "x.ini"}, {"%APPNAME", "APPNAME"},
      {"%X%", "%X%"}, {"a%%b.ini", "ab.ini"}, {"%APPNAMEX%.ini", ".ini"}};  // nothing left: the entry stays
  for (const auto& [entry, name] : cases) EXPECT_STREQ(HeapText(SubstituteIniName(entry, "Viewer")).get(), name) << entry;
}

TEST(StoredMainClass, ReadsBackAndStaysInsideItsArea) {
  char stored[2 * ScrambleAreaSize];
  for (const std::string& plain : {std::string("org.Main"), std::string(16, 'V') + "x", std::string(255, '\xE9')}) {
    ASSERT_TRUE(ScrambleText(plain.c_str(), stored, sizeof(stored)));
    EXPECT_EQ(std::strlen(stored), 2 * plain.size());
    EXPECT_EQ(DescrambleText(stored), plain);
  }
  // The form existing launchers hold: hex of the bytes XORed with a key whose 17th byte is zero.
  ASSERT_TRUE(ScrambleText(std::string(17, 'c').c_str(), stored, sizeof(stored)));
  EXPECT_EQ(std::string(stored).substr(0, 2) + std::string(stored).substr(32), "3563");
  EXPECT_FALSE(ScrambleText(std::string(256, 'a').c_str(), stored, sizeof(stored)));
  EXPECT_STREQ(stored, "");
  EXPECT_FALSE(ScrambleText("abc", stored, 6));
  // Entries only an edited launcher holds still give a terminated text inside the area.
  EXPECT_EQ(std::strlen(DescrambleText(std::string(600, '1').c_str())), 255u);
}

TEST(StringBlock, FindsEveryEntryButNoneThatRunsPastTheBlock) {
  std::vector<unsigned char> block;
  for (unsigned char i = 0; i < 16; ++i) {
    block.insert(block.end(), {i, 0});
    for (unsigned char unit = 0; unit < i; ++unit) block.insert(block.end(), {static_cast<unsigned char>('a' + i), 0});
  }
  size_t offset = 0, count = 0;
  for (unsigned i = 1; i < 16; ++i) {
    ASSERT_TRUE(FindStringBlockEntry(block.data(), block.size(), i, &offset, &count)) << i;
    EXPECT_TRUE(count == i && block[offset] == 'a' + i && block[offset + 2 * i - 2] == 'a' + i) << i;
  }
  EXPECT_FALSE(FindStringBlockEntry(block.data(), block.size(), 16, &offset, &count));
  EXPECT_FALSE(FindStringBlockEntry(block.data(), block.size() - 1, 15, &offset, &count));
  block[3] = 0x7F;  // a lying length hides everything behind it
  EXPECT_TRUE(FindStringBlockEntry(block.data(), block.size(), 0, &offset, &count));
  EXPECT_FALSE(FindStringBlockEntry(block.data(), block.size(), 2, &offset, &count));
  const std::pair<const char*, const char*> escapes[] = {
      {"a\\nb", "a\nb"}, {"a\\tb", "a\\tb"}, {"end\\", "end"}, {"\\\\n", "\\\\n"}, {"C:\\dir\\new", "C:\\dir\new"}};
  for (const auto& [text, expected] : escapes) {
    std::string message = text;
    ExpandMessageEscapes(message.data());
    EXPECT_STREQ(message.c_str(), expected) << text;
  }
}

// A trace line is one line whatever its values hold, and a cut one says so.
TEST(TraceLine, PadsTheTimeEscapesControlCharactersAndMarksACut) {
  const std::string fits(24 - 6 - 12, 'v');  // a line of 24 characters less the end's 6 and the time's 12
  const struct { uint32_t ms; const char* first; const char* second; size_t capacity; const char* line; } cases[] = {
      {7, "a", nullptr, 64, "      7 ms  a\r\n"},
      {4294967295u, "x", "", 64, "4294967295 ms  x\r\n"},
      {7, "two\nlines\t", "\x7F\xE9", 64, "      7 ms  two\\x0Alines\\x09\\x7F\xE9\r\n"},
      {7, fits.c_str(), nullptr, 24, "      7 ms  vvvvvv\r\n"},
      {7, fits.c_str(), "w", 24, "      7 ms  vvvvvv...\r\n"},
      {7, "abc\n", nullptr, 24, "      7 ms  abc...\r\n"},  // an escape is written whole or not at all
  };
  for (const auto& c : cases) {
    char line[64];
    const size_t length = FormatTraceLine(line, c.capacity, c.ms, {c.first, c.second});
    EXPECT_STREQ(line, c.line);
    EXPECT_EQ(length, std::strlen(c.line));
  }
  EXPECT_STREQ(DecimalText(INT64_MIN).text, "-9223372036854775808");
}

}  // namespace
