// Reading the executable's own string tables (test.settings over the stub's resources/launcher.toml).
#include <gtest/gtest.h>

#include "base/launch_config_win.h"
#include "base/scramble.h"
#include "../shared/win_support.h"

namespace {

std::string Config(int id) { return HeapText(LoadConfigString(id)).get(); }
std::string MessageString(int id) { return HeapText(LoadMessageString(id)).get(); }

TEST(StringTables, AreReadWholeAndEmptyWhereUnset) {
  std::string alphabet;
  for (size_t i = 0; i < 1993; ++i) alphabet += (char)('a' + i % 26);
  EXPECT_EQ(Config(IdJvmOptions), "-Dlong=" + alphabet);
  EXPECT_EQ(Config(IdClassPath), std::string(1023, 'x'));  // fills the first buffer: it grows, not cuts
  EXPECT_EQ(Config(IdAppOptions), std::string(1022, 'y'));
  EXPECT_EQ(Config(IdWorkingDir) + Config(IdJvmSearchOrder) + Config(999), "");  // "<null>", absent, no such id
  EXPECT_EQ(Config(IdJvmVersion), "17");
  EXPECT_EQ(MessageString(MessageAlreadyRunning), "first line\nsecond line");
  EXPECT_EQ(MessageString(MessageFileWrite), "keeps \\t and \\\\ pairs");
  EXPECT_EQ(MessageString(MessageNoRuntime), "ends with a backslash");
  char cafe[16] = {};
  WideCharToMultiByte(CP_ACP, 0, L"caf\u00e9", -1, cafe, sizeof(cafe), nullptr, nullptr);
  EXPECT_EQ(MessageString(MessageJvmLoad), cafe);  // in the ANSI code page
  EXPECT_EQ(MessageString(MessageJniInterfaces) + MessageString(40) + MessageString(0), "");  // left out, no block, no id
}

TEST(StringTables, GiveTheLaunchSettings) {
  LoadLaunchConfig("Viewer");
  const LaunchConfigRecord& c = LaunchConfig;
  EXPECT_EQ(std::string(c.MainClass) + " " + c.AppMutex + " " + DescrambleText(c.MainClassStored) + " " + c.IniFile,
            "org/example/tool/Main org/example/tool/Main org.example.tool.Main conf\\Viewer.ini");
  EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), (DWORD)BELOW_NORMAL_PRIORITY_CLASS);
  SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
  EXPECT_STREQ(c.SplashText, "");  // the unset marker never shows as the splash window's title
  EXPECT_EQ(std::string(Message(MessageAlreadyRunning)) + "|" + Message(MessageServiceOnly), "first line\nsecond line|100% literal");
}

}  // namespace
