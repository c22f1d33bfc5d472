#include "settings_file.h"

#include <gtest/gtest.h>

#include "base/scramble.h"
#include "base/setting_table.h"

namespace {

using corvane::tools::ApplySettingsText;
using corvane::tools::RawEntries;

TEST(SettingsFile, LaterFilesOverrideEarlierOnes) {
  RawEntries entries;
  ASSERT_FALSE(ApplySettingsText("ServiceName = <null>\nClassPath = a.jar\n", "base", entries));
  ASSERT_FALSE(ApplySettingsText("ServiceName = Demo\n", "scenario", entries));
  EXPECT_EQ(entries[IdServiceName], "Demo");
  EXPECT_EQ(entries[IdClassPath], "a.jar");
}

TEST(SettingsFile, StoresTheMainClassScrambled) {
  RawEntries entries;
  ASSERT_FALSE(ApplySettingsText("MainClass = org.example.Main\n", "f", entries));
  EXPECT_NE(entries[IdMainClass], "org.example.Main");
  EXPECT_STREQ(DescrambleText(entries[IdMainClass].c_str()), "org.example.Main");
}

TEST(SettingsFile, ReportsBadLinesWithTheirPlace) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"Nonsense = 1\n", "f:1: unknown setting \"Nonsense\""},
      {"# comment\n\nClassPath\n", "f:3: expected \"Name = value\""},
      {"ClassPath = a\nClassPath = b\n", "f:2: \"ClassPath\" is given twice"},
      {"Message22 = x\n", "f:1: unknown setting \"Message22\""},
      {"Message0 = x\n", "f:1: unknown setting \"Message0\""},
      {"Message01 = x\n", "f:1: unknown setting \"Message01\""},
      {"ClassPath = \xC3\n", "f:1: the value of \"ClassPath\" is not valid UTF-8"},
  };
  for (const Case& c : cases) {
    RawEntries entries;
    const auto error = ApplySettingsText(c.text, "f", entries);
    ASSERT_TRUE(error.has_value()) << c.text;
    EXPECT_EQ(*error, c.error);
  }
  RawEntries entries;
  const auto error = ApplySettingsText("MainClass = " + std::string(256, 'a') + "\n", "f", entries);
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find("MainClass is longer than 255 bytes"), std::string::npos);
}

TEST(SettingsFile, KeepsRawTextsAndAbsentMarkers) {
  RawEntries entries;
  ASSERT_FALSE(ApplySettingsText("StdOutMode = \"  42abc\"\nAppOptions = <absent>\nMessage1 = a\\nb\n", "f", entries));
  EXPECT_EQ(entries[IdStdOutMode], "  42abc");
  EXPECT_EQ(entries[IdAppOptions], "<absent>");
  EXPECT_EQ(entries[1], "a\\nb");
}

}  // namespace
