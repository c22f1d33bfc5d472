// Reading the executable's own string tables (test.settings over the stub's own resources/launcher.toml).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/launch_config.h"
#include "base/launch_config_win.h"
#include "base/scramble.h"
#include "base/text.h"

namespace {

std::string ConfigString(int id) {
  HeapText text(LoadConfigString(id));
  EXPECT_NE(text, nullptr);
  return text ? text.get() : "";
}

std::string MessageString(int id) {
  HeapText text(LoadMessageString(id));
  EXPECT_NE(text, nullptr);
  return text ? text.get() : "";
}

std::string Alphabet(size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) text += static_cast<char>('a' + i % 26);
  return text;
}

TEST(LoadConfigString, ReadsLongEntriesWhole) {
  EXPECT_EQ(ConfigString(IdJvmOptions), "-Dlong=" + Alphabet(2000 - 7));
  // 1023 characters fill the first buffer exactly: it must grow once, not cut.
  EXPECT_EQ(ConfigString(IdClassPath), std::string(1023, 'x'));
  EXPECT_EQ(ConfigString(IdAppOptions), std::string(1022, 'y'));
}

TEST(LoadConfigString, UnsetAndAbsentEntriesReadEmpty) {
  EXPECT_EQ(ConfigString(IdWorkingDir), "");     // "<null>"
  EXPECT_EQ(ConfigString(IdJvmSearchOrder), "");  // not in the table
  EXPECT_EQ(ConfigString(999), "");              // no such id at all
  EXPECT_EQ(ConfigString(IdJvmVersion), "17");
}

TEST(LoadMessageString, ConvertsAndExpandsEscapes) {
  EXPECT_EQ(MessageString(MessageAlreadyRunning), "first line\nsecond line");
  EXPECT_EQ(MessageString(MessageFileWrite), "keeps \\t and \\\\ pairs");
  EXPECT_EQ(MessageString(MessageNoRuntime), "ends with a backslash");
  EXPECT_EQ(MessageString(MessageServiceOnly), "100% literal");
  EXPECT_EQ(MessageString(MessageServiceTimedOut),
            "The %s service has timed out during a stop request and will be terminated.");
}

TEST(LoadMessageString, UsesTheAnsiCodePage) {
  char expected[16] = {};
  WideCharToMultiByte(CP_ACP, 0, L"caf\u00e9", -1, expected, sizeof(expected), nullptr, nullptr);
  EXPECT_EQ(MessageString(MessageJvmLoad), expected);
}

TEST(LoadMessageString, MissingEntriesAndBlocksReadEmpty) {
  EXPECT_EQ(MessageString(MessageJniInterfaces), "");  // entry left out of its block
  EXPECT_EQ(MessageString(40), "");                    // block 3 does not exist
  EXPECT_EQ(MessageString(0), "");
}

TEST(LoadLaunchConfig, DecodesEveryKindOfSetting) {
  LoadLaunchConfig("Viewer");
  const LaunchConfigRecord& c = LaunchConfig;
  EXPECT_STREQ(c.MainClass, "org/example/tool/Main");
  EXPECT_STREQ(c.AppMutex, "org/example/tool/Main");
  EXPECT_STREQ(DescrambleText(c.MainClassStored), "org.example.tool.Main");
  EXPECT_STREQ(c.IniFile, "conf\\Viewer.ini");
  // Flags: "<null>" and absent are true; only a leading "0" is false.
  EXPECT_TRUE(c.ServiceStopByExit);
  EXPECT_TRUE(c.ServiceOnly);
  EXPECT_FALSE(c.KeepStartDir);
  EXPECT_FALSE(c.WorkingDirBeforeJvm);
  EXPECT_TRUE(c.ServiceManualStart);
  EXPECT_FALSE(c.AllowMultipleInstances);
  EXPECT_TRUE(c.ReportNoJvm);
  // Numbers.
  EXPECT_EQ(c.SplashSeconds, 0);
  EXPECT_EQ(c.StdOutMode, 42);
  EXPECT_EQ(c.StdErrMode, -7);
  EXPECT_EQ(c.PriorityClass, 4);
  EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), static_cast<DWORD>(BELOW_NORMAL_PRIORITY_CLASS));
  // Texts, and the one read as a message.
  EXPECT_STREQ(c.JvmPath, "jre\\bin\\server\\jvm.dll");
  EXPECT_STREQ(c.StdOutFile, "logs\\stdout.log");
  EXPECT_STREQ(c.WorkingDir, "");
  EXPECT_STREQ(c.JvmSearchOrder, "");
  // An unset splash text (what the builder stores for an empty one) is empty: the splash window's
  // title would show the marker otherwise.
  EXPECT_STREQ(c.SplashText, "");
  EXPECT_FALSE(c.ShowConsole);
  // Messages 1 and 3 to 21; message 2 is the driver's to load.
  EXPECT_STREQ(Message(MessageAlreadyRunning), "first line\nsecond line");
  EXPECT_STREQ(Message(MessageServiceStarted), "The %s service has started.");
  EXPECT_STREQ(Message(MessageServiceOnly), "100% literal");
  SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
}

}  // namespace
