#include "settings_file.h"

#include <gtest/gtest.h>

#include "launcher/scramble.h"
#include "launcher/setting_table.h"

namespace {

using corvane::tools::ApplySettingsText;
using corvane::tools::StringEntries;
using corvane::tools::WriteStringTablesRc;

TEST(SettingsFile, LaterFilesOverrideEarlierOnes) {
  StringEntries entries;
  ASSERT_FALSE(ApplySettingsText("ServiceName = <null>\nClassPath = a.jar\n", "base", entries));
  ASSERT_FALSE(ApplySettingsText("ServiceName = Demo\n", "scenario", entries));
  EXPECT_EQ(entries[IdServiceName], "Demo");
  EXPECT_EQ(entries[IdClassPath], "a.jar");
}

TEST(SettingsFile, StoresTheMainClassScrambled) {
  StringEntries entries;
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
    StringEntries entries;
    const auto error = ApplySettingsText(c.text, "f", entries);
    ASSERT_TRUE(error.has_value()) << c.text;
    EXPECT_EQ(*error, c.error);
  }
  StringEntries entries;
  const auto error = ApplySettingsText("MainClass = " + std::string(256, 'a') + "\n", "f", entries);
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find("MainClass is longer than 255 bytes"), std::string::npos);
}

TEST(SettingsFile, WritesBothTablesWithEscapes) {
  StringEntries entries;
  ASSERT_FALSE(ApplySettingsText(
      "StdOutFile = logs\\out.log\nMessage1 = say \"hi\"\\n\nMessage2 = caf\xC3\xA9\nAppOptions = <absent>\n"
      "JvmOptions = \"  spaced  \"\n",
      "f", entries));
  const std::string rc = WriteStringTablesRc(entries);
  EXPECT_NE(rc.find("1027, L\"logs\\\\out.log\""), std::string::npos) << rc;
  EXPECT_NE(rc.find("1, L\"say \"\"hi\"\"\\\\n\""), std::string::npos) << rc;
  EXPECT_NE(rc.find("2, L\"caf\\x00E9\""), std::string::npos) << rc;
  EXPECT_NE(rc.find("1003, L\"  spaced  \""), std::string::npos) << rc;
  EXPECT_EQ(rc.find("1013,"), std::string::npos) << rc;
  // Settings first (neutral), then the messages in English (Australia).
  EXPECT_LT(rc.find("LANGUAGE 0, 0"), rc.find("1027,"));
  EXPECT_LT(rc.find("LANGUAGE 9, 3"), rc.find("1, L\"say"));
  EXPECT_GT(rc.find("LANGUAGE 9, 3"), rc.find("1027,"));
}

}  // namespace
