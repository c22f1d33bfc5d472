// Steps of the start-up that depend on the system: the temporary directory, the executable's path
// and name, and the single-instance mutex.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_screen.h"
#include "base/launch_config.h"
#include "base/launch_config_win.h"
#include "launcher/launch_main_win.h"
#include "base/process_state_win.h"
#include "base/text.h"

namespace {

std::string SystemTemp() {
  char path[MAX_PATH + 1] = {};
  GetTempPathA(sizeof(path), path);
  return path;
}

// Sets TMP and TEMP for one test and puts them back.
class TempVariables {
 public:
  explicit TempVariables(const std::string& value) {
    for (const char* name : {"TMP", "TEMP"}) {
      char old[4096] = {};
      const DWORD n = GetEnvironmentVariableA(name, old, sizeof(old));
      saved_.push_back({name, n > 0 && n < sizeof(old) ? std::string(old) : std::string()});
      SetEnvironmentVariableA(name, value.c_str());
    }
  }
  ~TempVariables() {
    for (const auto& [name, value] : saved_) SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
  }

 private:
  std::vector<std::pair<std::string, std::string>> saved_;
};

class TempDirNaming : public testing::Test {
 protected:
  void SetUp() override {
    ScreenRecords().clear();
    SetMessage(MessageFileAccess, LoadMessageString(MessageFileAccess));
  }
};

TEST_F(TempDirNaming, FollowsTheMode) {
  struct Case {
    int32_t mode;
    std::string expected;
  } cases[] = {{0, "."}, {1, ".\\A1B2"}, {2, SystemTemp() + "A1B2"}, {7, SystemTemp() + "A1B2"},
               {-1, SystemTemp() + "A1B2"}};
  for (const Case& c : cases) {
    EXPECT_TRUE(NameTempDir(c.mode, "A1B2"));
    EXPECT_EQ(std::string(TempDir), c.expected) << c.mode;
  }
  EXPECT_TRUE(ScreenRecords().empty());
}

TEST_F(TempDirNaming, ATooLongTemporaryPathIsReportedAndLeavesTempDirEmpty) {
  TempVariables temp("C:\\" + std::string(300, 't'));
  std::strcpy(TempDir, "stale");
  EXPECT_FALSE(NameTempDir(2, "A1B2"));
  EXPECT_STREQ(TempDir, "");
  ASSERT_EQ(ScreenRecords().size(), 1u);
  EXPECT_EQ(ScreenRecords()[0].kind, "error box");
  EXPECT_EQ(ScreenRecords()[0].text.rfind("Error accessing file/directory: TEMP_PATH\n\nReason: ", 0), 0u)
      << ScreenRecords()[0].text;
}

TEST_F(TempDirNaming, ANameThatDoesNotFitIsRefusedNotCut) {
  const std::string name(PathCapacity - SystemTemp().size(), 'A');  // one character too many
  EXPECT_FALSE(NameTempDir(2, name.c_str()));
  EXPECT_STREQ(TempDir, "");
  EXPECT_EQ(ScreenRecords().size(), 1u);
  const std::string fits(PathCapacity - 1 - SystemTemp().size(), 'A');
  EXPECT_TRUE(NameTempDir(2, fits.c_str()));
  EXPECT_EQ(std::string(TempDir), SystemTemp() + fits);
}

TEST_F(TempDirNaming, ANameThatIsNotPlainHexNamesNoFolder) {
  // Only an edited executable stores anything else; the folder would then lie wherever it points.
  for (const char* name : {"..\\..\\Windows", "", "C:\\Users", "A1B2\\.."}) {
    std::strcpy(TempDir, "stale");
    EXPECT_FALSE(NameTempDir(2, name)) << name;
    EXPECT_STREQ(TempDir, "") << name;
  }
  ASSERT_EQ(ScreenRecords().size(), 4u);
  EXPECT_EQ(ScreenRecords()[0].text.rfind("Error accessing file/directory: TEMP_PATH\n\nReason: ", 0), 0u);
  // The program's own folder needs no name.
  EXPECT_TRUE(NameTempDir(0, ".."));
  EXPECT_STREQ(TempDir, ".");
}

TEST(ExecutablePath, IsTheWholePathOfThisProgram) {
  char path[PathCapacity];
  ASSERT_TRUE(GetExecutablePath(path));
  const std::string text = path;
  EXPECT_EQ(text.substr(text.size() - 21), "corvane_win_tests.exe");
  EXPECT_EQ(text[1], ':');
}

TEST(ExecutableDirectory, IsThePathUpToTheLastBackslash) {
  struct Case {
    const char* path;
    const char* expected;
  } cases[] = {{"D:\\Tools\\Viewer.exe", "D:\\Tools"},
               {"C:\\a\\b\\c.exe", "C:\\a\\b"},
               {"C:\\Viewer.exe", "C:\\"},  // the root, not the drive's current directory
               {"\\\\server\\share\\x.exe", "\\\\server\\share"}};
  for (const Case& c : cases) {
    char directory[PathCapacity];
    ExecutableDirectory(c.path, directory);
    EXPECT_STREQ(directory, c.expected) << c.path;
  }
}

TEST(ApplicationName, IsTheFileNameWithoutItsLastExtension) {
  struct Case {
    const char* path;
    const char* expected;
  } cases[] = {{"D:\\Tools\\Viewer.exe", "Viewer"},
               {"C:\\a\\b.c.exe", "b.c"},
               {"C:\\my.dir\\app", "app"},  // a dot in a directory name is no extension
               {"C:\\x\\.exe", ""},
               {"plain", "plain"}};
  for (const Case& c : cases) {
    HeapText name(DeriveAppName(c.path));
    EXPECT_STREQ(name.get(), c.expected) << c.path;
  }
}

TEST(SingleInstance, TheSecondClaimSeesTheFirst) {
  const std::string name = "corvane/test/instance/" + std::to_string(GetCurrentProcessId());
  HANDLE first = nullptr, second = nullptr;
  ASSERT_EQ(ClaimSingleInstance(name.c_str(), &first), InstanceClaim::Claimed);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(ClaimSingleInstance(name.c_str(), &second), InstanceClaim::AlreadyRunning);
  EXPECT_EQ(second, nullptr);
  CloseHandle(first);
  ASSERT_EQ(ClaimSingleInstance(name.c_str(), &first), InstanceClaim::Claimed);
  CloseHandle(first);
}

TEST(SingleInstance, AnUnusableNameLetsTheLaunchGoOnUnchecked) {
  HANDLE mutex = nullptr;
  // A backslash is only allowed after a namespace prefix: the mutex cannot be made at all.
  EXPECT_EQ(ClaimSingleInstance("no\\such\\namespace", &mutex), InstanceClaim::Unchecked);
  EXPECT_EQ(mutex, nullptr);
}

}  // namespace
