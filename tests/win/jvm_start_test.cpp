// The parts of JVM creation that need no runtime: collecting the archives of class-path folders
// and entering the working folder. Real folders under the temporary folder of the test's prefix.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/launch_config.h"
#include "base/process_state_win.h"
#include "base/setting_table.h"
#include "base/text.h"
#include "fake_screen.h"
#include "runtime/jvm_win.h"
#include "scratch_files.h"

namespace {

using namespace corvane::test;

class JvmStart : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeScratchRoot("cvjs");
    ASSERT_FALSE(root_.empty());
    GetCurrentDirectoryA(sizeof(savedDirectory_), savedDirectory_);
    savedMessage_ = Message(MessageFileAccess);
    SetMessage(MessageFileAccess, CopyText("Error accessing file/directory: %s"));
    ScreenRecords().clear();
  }
  void TearDown() override {
    SetCurrentDirectoryA(savedDirectory_);
    RemoveTree(LongForm(root_));
    SetMessage(MessageFileAccess, CopyText(savedMessage_.c_str()));
    ScreenRecords().clear();
  }

  std::string At(const std::string& relative) const { return root_ + "\\" + relative; }
  void Files(std::initializer_list<const char*> relatives) const {
    for (const char* relative : relatives) ASSERT_TRUE(MakeFile(At(relative))) << relative;
  }

  // The ";"-separated entries CollectArchives appended, sorted: Wine lists folders in the Linux file
  // system's order.
  static std::vector<std::string> Collect(const std::string& directory, bool* succeeded) {
    ScopedTextBuffer classPath;
    *succeeded = CollectArchives(&classPath, directory.c_str());
    std::vector<std::string> entries;
    std::string text = classPath.text != nullptr ? classPath.text : "";
    EXPECT_TRUE(text.empty() || text.back() == ';') << text;
    for (size_t start = 0; start < text.size();) {
      const size_t end = text.find(';', start);
      entries.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    std::sort(entries.begin(), entries.end());
    return entries;
  }

  std::string root_;
  char savedDirectory_[MAX_PATH + 1] = {};
  std::string savedMessage_;
};

TEST_F(JvmStart, ArchivesBelowAFolderAreCollectedDepthFirst) {
  Files({"lib\\a.jar", "lib\\UPPER.ZIP", "lib\\x\\b.zip", "lib\\x\\c.txt", "lib\\x\\y\\d.jar", "lib\\jar", "lib\\e.jar.bak"});
  ASSERT_TRUE(MakeDirectories(At("lib\\empty")));
  ASSERT_TRUE(MakeDirectories(At("lib\\folder.jar")));  // a folder named like an archive is searched, not taken
  ASSERT_TRUE(MakeFile(At("lib\\folder.jar\\inner.jar")));
  bool succeeded = false;
  const std::vector<std::string> entries = Collect(At("lib"), &succeeded);
  EXPECT_TRUE(succeeded);
  EXPECT_EQ(entries, (std::vector<std::string>{At("lib\\UPPER.ZIP"), At("lib\\a.jar"), At("lib\\folder.jar\\inner.jar"),
                                               At("lib\\x\\b.zip"), At("lib\\x\\y\\d.jar")}));
  EXPECT_TRUE(ScreenRecords().empty());
}

TEST_F(JvmStart, TheFolderTextGoesUnchangedIntoThePaths) {
  Files({"lib\\a.jar"});
  ASSERT_TRUE(SetCurrentDirectoryA(root_.c_str()));
  struct Case {
    const char* directory;
    const char* expected;
  };
  const Case cases[] = {{"lib", "lib\\a.jar"}, {"lib\\", "lib\\a.jar"}, {"lib/", "lib/\\a.jar"}};
  for (const Case& c : cases) {
    bool succeeded = false;
    EXPECT_EQ(Collect(c.directory, &succeeded), std::vector<std::string>{c.expected}) << c.directory;
    EXPECT_TRUE(succeeded);
  }
  ASSERT_TRUE(SetCurrentDirectoryA(At("lib").c_str()));
  bool succeeded = false;
  EXPECT_EQ(Collect(".", &succeeded), std::vector<std::string>{".\\a.jar"});
  EXPECT_TRUE(succeeded);
}

TEST_F(JvmStart, AnEmptyFolderAddsNothing) {
  ASSERT_TRUE(MakeDirectories(At("empty")));
  bool succeeded = false;
  EXPECT_TRUE(Collect(At("empty"), &succeeded).empty());
  EXPECT_TRUE(succeeded);
  EXPECT_TRUE(ScreenRecords().empty());
}

TEST_F(JvmStart, AFolderThatCannotBeListedIsReported) {
  // The class path only hands over folders that exist; one that is gone by the time it is listed
  // stops the start with the listing's error.
  bool succeeded = true;
  EXPECT_TRUE(Collect(At("vanished\\deeper"), &succeeded).empty());
  EXPECT_FALSE(succeeded);
  ASSERT_EQ(ScreenRecords().size(), 1u);
  EXPECT_EQ(ScreenRecords()[0].text.rfind("Internal error RC000001", 0), 0u) << ScreenRecords()[0].text;
}

TEST_F(JvmStart, LinksInTheTreeAreNotFollowed) {
  Files({"lib\\a.jar", "elsewhere\\outside.jar"});
  if (!MakeDirectoryLink(At("lib"), "loop", "..") || !MakeDirectoryLink(At("lib"), "out", "../elsewhere")) {
    GTEST_SKIP() << "no directory link can be made here";
  }
  bool succeeded = false;
  const std::vector<std::string> entries = Collect(At("lib"), &succeeded);
  RemoveDirectoryLink(At("lib"), "loop");
  RemoveDirectoryLink(At("lib"), "out");
  EXPECT_TRUE(succeeded);
  EXPECT_EQ(entries, std::vector<std::string>{At("lib\\a.jar")});
}

TEST_F(JvmStart, ArchivesBeyondThePathLimitAreLeftOut) {
  // A tree deeper than a path can name: the archive near the top is found, the deep one cannot be
  // named in the class path and is skipped without writing past a buffer.
  std::string deep = "lib";
  while (At(deep).size() < 300) deep += "\\nested-folder";
  Files({"lib\\top.jar"});
  ASSERT_TRUE(MakeFile(At(deep + "\\deep.jar")));
  bool succeeded = false;
  const std::vector<std::string> entries = Collect(At("lib"), &succeeded);
  EXPECT_TRUE(succeeded);
  EXPECT_EQ(entries, std::vector<std::string>{At("lib\\top.jar")});
}

struct WorkingDirectoryCase {
  const char* name;
  bool beforeJvm;
  bool keepStartDir;
  const char* workingDir;  // relative to the scratch root; "" for none
  const char* expectedDir;  // where the process is afterwards, relative to the root ("." the start)
  bool succeeds;
};

class WorkingDirectory : public JvmStart, public testing::WithParamInterface<WorkingDirectoryCase> {};

TEST_P(WorkingDirectory, IsEnteredOrReported) {
  const WorkingDirectoryCase& c = GetParam();
  ASSERT_TRUE(MakeDirectories(At("start")));
  ASSERT_TRUE(MakeDirectories(At("work")));
  ASSERT_TRUE(MakeDirectories(At("elsewhere")));
  ASSERT_TRUE(SetCurrentDirectoryA(At("elsewhere").c_str()));
  char savedStart[sizeof(StartDir)];
  std::memcpy(savedStart, StartDir, sizeof(StartDir));
  std::strcpy(StartDir, At("start").c_str());
  char* savedWorking = EditLaunchConfig().WorkingDir;
  EditLaunchConfig().WorkingDir = CopyText(c.workingDir[0] == '\0' ? "" : At(c.workingDir).c_str());
  const bool savedKeep = EditLaunchConfig().KeepStartDir;
  EditLaunchConfig().KeepStartDir = c.keepStartDir;

  EXPECT_EQ(SetWorkingDirectory(c.beforeJvm), c.succeeds);
  char now[MAX_PATH + 1];
  GetCurrentDirectoryA(sizeof(now), now);
  EXPECT_EQ(std::string(now), At(c.expectedDir));
  if (c.succeeds) {
    EXPECT_TRUE(ScreenRecords().empty());
  } else {
    ASSERT_EQ(ScreenRecords().size(), 1u);
    // The message names the folder; the system's text of the error follows it.
    EXPECT_EQ(ScreenRecords()[0].text.rfind("Error accessing file/directory: " + At(c.workingDir), 0), 0u)
        << ScreenRecords()[0].text;
  }

  std::free(EditLaunchConfig().WorkingDir);
  EditLaunchConfig().WorkingDir = savedWorking;
  EditLaunchConfig().KeepStartDir = savedKeep;
  std::memcpy(StartDir, savedStart, sizeof(StartDir));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WorkingDirectory,
    testing::Values(WorkingDirectoryCase{"NoWorkingDirStaysWhereItIs", false, false, "", "elsewhere", true},
                    WorkingDirectoryCase{"WorkingDirIsEntered", false, false, "work", "work", true},
                    WorkingDirectoryCase{"KeepStartDirReturnsToTheStart", false, true, "work", "start", true},
                    // Before the JVM, KeepStartDir has no say: the working folder is entered.
                    WorkingDirectoryCase{"BeforeTheJvmKeepStartDirIsIgnored", true, true, "work", "work", true},
                    WorkingDirectoryCase{"AMissingWorkingDirIsReported", true, false, "missing", "elsewhere", false}),
    [](const testing::TestParamInfo<WorkingDirectoryCase>& info) { return std::string(info.param.name); });

}  // namespace
