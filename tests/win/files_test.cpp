// Files and folders under Wine: the class-path folders, the working folder, output paths, the
// single-instance mutex and INI files (through the system's profile functions), in a scratch folder
// made current for each test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "../shared/ini_settings.h"
#include "base/ini_override.h"
#include "base/process_state_win.h"
#include "base/variables.h"
#include "launcher/launch_main_win.h"
#include "runtime/jvm_win.h"
#include "runtime/runtime_search_win.h"
#include "../shared/win_support.h"

namespace {

using namespace corvane::test;
using Texts = std::vector<std::string>;

bool IsDirectory(const std::string& path) { return ClassifyPath(path.c_str()) == 1; }

class Files : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(GetCurrentDirectoryA(sizeof(saved_), saved_) && SetCurrentDirectoryA(root_.c_str())); }
  void TearDown() override { SetCurrentDirectoryA(saved_), RemoveTree(root_), ScreenRecords().clear(); }
  std::string At(const std::string& relative) const { return root_ + "\\" + relative; }
  // The entries CollectArchives added, sorted: Wine lists folders in the Linux file system's order.
  Texts Collect(const std::string& directory, bool succeeds = true) {
    ScopedTextBuffer classPath;
    EXPECT_EQ(CollectArchives(&classPath, directory.c_str()), succeeds) << directory;
    Texts entries;
    std::string text = classPath.text ? classPath.text : "";
    EXPECT_TRUE(text.empty() || text.back() == ';') << text;
    for (size_t start = 0, end; start < text.size(); start = end + 1) entries.push_back(text.substr(start, (end = text.find(';', start)) - start));
    std::sort(entries.begin(), entries.end());
    return entries;
  }
  std::string root_ = (ScreenRecords().clear(), MakeScratchRoot());
  char saved_[MAX_PATH + 1] = {};
  MessageText fileAccess_{MessageFileAccess, "Error accessing file/directory: %s"};
};

TEST_F(Files, ArchivesOfAFolderAreCollectedDepthFirstWithoutLinksOrOverlongPaths) {
  std::string deep = "lib\\x";
  while (At(deep).size() < 300) deep += "\\nested-folder";
  for (const std::string& file : std::vector<std::string>{"lib\\a.jar", "lib\\UPPER.ZIP", "lib\\x\\b.zip", "lib\\x\\c.txt", "lib\\jar", "lib\\e.jar.bak",
                                 "lib\\folder.jar\\inner.jar", "outside\\o.jar", deep + "\\deep.jar"})
    ASSERT_TRUE(MakeFile(At(file))) << file;
  ASSERT_TRUE(MakeDirectories(At("lib\\empty")));
  const bool linked = MakeDirectoryLink(At("lib"), "out", "../outside") && MakeDirectoryLink(At("lib"), "loop", "..");
  EXPECT_TRUE(linked) << "no folder link can be made here";
  EXPECT_EQ(Collect(At("lib")), (Texts{At("lib\\UPPER.ZIP"), At("lib\\a.jar"), At("lib\\folder.jar\\inner.jar"), At("lib\\x\\b.zip")}));
  // The folder's text goes into the paths unchanged.
  EXPECT_EQ(Collect("lib\\x\\"), Texts{"lib\\x\\b.zip"});
  EXPECT_EQ(Collect("lib/x"), Texts{"lib/x\\b.zip"});
  EXPECT_EQ(Collect(At("lib\\empty")), Texts{});
  EXPECT_TRUE(ScreenRecords().empty());
  // A folder gone by the time it is listed stops the start with the listing's error.
  EXPECT_EQ(Collect(At("vanished\\deeper"), false), Texts{});
  ASSERT_EQ(ScreenRecords().size(), 1u);
  EXPECT_EQ(ScreenRecords()[0].text.rfind("Internal error RC000001", 0), 0u) << ScreenRecords()[0].text;
}

TEST_F(Files, TheWorkingFolderIsEnteredOrReported) {
  const struct {
    bool beforeJvm, keepStartDir;
    const char *workingDir, *expectedDir;  // none: ""; where the process is afterwards
    bool succeeds;
  } cases[] = {{false, false, "", "elsewhere", true},     {false, false, "work", "work", true},
               {false, true, "work", "start", true},       {true, true, "work", "work", true},  // before the JVM it has no say
               {true, false, "missing", "elsewhere", false}};
  ASSERT_TRUE(MakeDirectories(At("start")) && MakeDirectories(At("work")) && MakeDirectories(At("elsewhere")));
  char savedStart[sizeof(StartDir)];
  std::memcpy(savedStart, StartDir, sizeof(StartDir));
  std::strcpy(StartDir, At("start").c_str());
  const bool savedKeep = EditLaunchConfig().KeepStartDir;
  for (const auto& c : cases) {
    ScreenRecords().clear();
    ASSERT_TRUE(SetCurrentDirectoryA(At("elsewhere").c_str()));
    SettingText workingDir(&EditLaunchConfig().WorkingDir, c.workingDir[0] ? At(c.workingDir) : "");
    EditLaunchConfig().KeepStartDir = c.keepStartDir;
    EXPECT_EQ(SetWorkingDirectory(c.beforeJvm), c.succeeds) << c.workingDir;
    char now[MAX_PATH + 1];
    EXPECT_EQ(std::string(now, GetCurrentDirectoryA(sizeof(now), now)), At(c.expectedDir));
    EXPECT_EQ(ScreenRecords().size(), c.succeeds ? 0u : 1u);
    if (!c.succeeds && !ScreenRecords().empty())  // names the folder; the system's reason follows
      EXPECT_EQ(ScreenRecords()[0].text.rfind("Error accessing file/directory: " + At(c.workingDir), 0), 0u);
  }
  EditLaunchConfig().KeepStartDir = savedKeep;
  std::memcpy(StartDir, savedStart, sizeof(StartDir));
}

TEST_F(Files, OutputPathsGetEveryFolderButNotTheFile) {
  EnvironmentVariable logs("CV_TEST_LOGS", "\"my logs\"");
  ASSERT_TRUE(MakeFile(At("kept\\kept.txt")));
  const std::string appDirFolder = "cv-output-" + std::to_string(GetCurrentProcessId());
  const std::pair<std::string, std::string> cases[] = {
      {"a\\b\\err.log", "a\\b\\err.log"}, {"%CV_TEST_LOGS%\\out.log", "my logs\\out.log"}, {"out.log", "out.log"},
      {"x\\\\y\\z.log", "x\\\\y\\z.log"}, {"kept\\new\\out.log", "kept\\new\\out.log"}, {At("abs\\deeper\\o.log"), At("abs\\deeper\\o.log")},
      {"long\\" + std::string(300, 'n') + "\\out.log", "long\\" + std::string(300, 'n') + "\\out.log"},
      {"%APPDIR%\\" + appDirFolder + "\\a\\err.log", ExecutableDirectory() + "\\" + appDirFolder + "\\a\\err.log"}};
  for (const auto& [path, expected] : cases) {
    HeapText prepared(PrepareOutputPath(path.c_str()));
    ASSERT_NE(prepared, nullptr);
    EXPECT_EQ(prepared.get(), expected);
    const std::string full = expected[1] == ':' ? expected : At(expected);
    EXPECT_TRUE(IsDirectory(full.substr(0, full.rfind('\\'))) || full.size() > MAX_PATH) << full;
    EXPECT_EQ(GetFileAttributesA(full.c_str()), INVALID_FILE_ATTRIBUTES) << full;
  }
  EXPECT_TRUE(IsDirectory(At("a")) && IsDirectory(At("x\\y")) && IsDirectory(At("long")));
  EXPECT_NE(GetFileAttributesA(At("kept\\kept.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  RemoveTree(ExecutableDirectory() + "\\" + appDirFolder);
}

TEST_F(Files, TheSingleInstanceMutexIsClaimedOnceAndLetGo) {
  const std::string name = "corvane/test/" + std::to_string(GetCurrentProcessId());
  ASSERT_EQ(ClaimSingleInstance(name.c_str()), InstanceClaim::Claimed);
  EXPECT_EQ(ClaimSingleInstance(name.c_str()), InstanceClaim::AlreadyRunning);
  CloseInstanceMutex();
  EXPECT_EQ(InstanceMutex, nullptr);
  ASSERT_EQ(ClaimSingleInstance(name.c_str()), InstanceClaim::Claimed);  // closed, not just forgotten
  CloseInstanceMutex();
  EXPECT_EQ(ClaimSingleInstance("no\\such\\namespace"), InstanceClaim::Unchecked);  // the launch goes on unchecked
}

// INI files through the system's profile functions: the file's place, its section, the rule each key
// follows (an empty value leaves the setting, %APPDIR% is expanded, %JAVA_HOME% is not known yet)
// and the length limit (4095 characters).
TEST_F(Files, IniFilesOverrideTheSettings) {
  const LaunchConfigRecord saved = LaunchConfig;
  char savedHome[PathCapacity];
  std::memcpy(savedHome, RegistryJavaHome, sizeof(savedHome));
  RegistryJavaHome[0] = '\0';  // no runtime is found before the INI file is read
  const std::string longest = "-Dx=" + std::string(4091, 'v');
  const std::string section = "[Application Configuration]\r\n";
  ASSERT_TRUE(MakeFile(At("conf\\app.ini"), section + "JvmVersion=11\r\nJvmPath=%JAVA_HOME%\r\nJvmOptions=" + longest +
                                                "\r\nStdOutFile=\r\nStdErrFile=%APPDIR%\\err.log\r\nShowConsole=\r\n[Other]\r\nAppMutex=x\r\n"));
  ASSERT_TRUE(MakeFile(At("long.ini"), section + "JvmOptions=" + longest + "w\r\nAppMutex=" + std::string(9000, 'a') + "\r\n"));
  IniSettings expected;
  expected.JvmVersion = "11", expected.JvmPath = "%JAVA_HOME%", expected.JvmOptions = longest;
  expected.StdErrFile = ExecutableDirectory() + "\\err.log", expected.StdErrMode = StreamFile;
  for (const std::string& name : std::vector<std::string>{"conf\\app.ini", At("conf\\app.ini"), "long.ini", "", "missing.ini", "conf"}) {
    StoreIniSettings(&EditLaunchConfig(), IniSettings());
    EditLaunchConfig().IniFile = CopyText(name.c_str());
    ApplyIniOverrides();
    EXPECT_EQ(ReadIniSettings(LaunchConfig), name.find("app.ini") != std::string::npos ? expected : IniSettings()) << name;
    FreeIniSettings(&EditLaunchConfig());
    std::free(EditLaunchConfig().IniFile);
  }
  EditLaunchConfig() = saved;
  std::memcpy(RegistryJavaHome, savedHome, sizeof(savedHome));
}

}  // namespace
