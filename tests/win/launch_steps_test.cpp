// Steps of the start-up that depend on the system: the system's temporary folder and the reports of
// TempDir naming, the executable's path, and the single-instance mutex.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/launch_config.h"
#include "base/launch_config_win.h"
#include "base/process_state_win.h"
#include "base/text.h"
#include "fake_screen.h"
#include "launcher/launch_main_win.h"

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

TEST_F(TempDirNaming, TheSystemsTemporaryFolderHoldsIt) {
  EXPECT_TRUE(NameTempDir(2, "A1B2"));
  EXPECT_EQ(std::string(TempDir), SystemTemp() + "A1B2");
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

TEST_F(TempDirNaming, ANameThatIsNotPlainHexIsReported) {
  std::strcpy(TempDir, "stale");
  EXPECT_FALSE(NameTempDir(1, "..\\..\\Windows"));
  EXPECT_STREQ(TempDir, "");
  ASSERT_EQ(ScreenRecords().size(), 1u);
  EXPECT_EQ(ScreenRecords()[0].text.rfind("Error accessing file/directory: TEMP_PATH\n\nReason: ", 0), 0u);
}

TEST(ExecutablePath, IsTheWholePathOfThisProgram) {
  char path[PathCapacity];
  ASSERT_TRUE(GetExecutablePath(path));
  const std::string text = path;
  EXPECT_EQ(text.substr(text.size() - 21), "corvane_win_tests.exe");
  EXPECT_EQ(text[1], ':');
}

TEST(SingleInstance, TheSecondClaimSeesTheFirst) {
  const std::string name = "corvane/test/instance/" + std::to_string(GetCurrentProcessId());
  ASSERT_EQ(ClaimSingleInstance(name.c_str()), InstanceClaim::Claimed);
  const HANDLE first = InstanceMutex;
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(ClaimSingleInstance(name.c_str()), InstanceClaim::AlreadyRunning);
  EXPECT_EQ(InstanceMutex, first);
  CloseInstanceMutex();
  EXPECT_EQ(InstanceMutex, nullptr);
  ASSERT_EQ(ClaimSingleInstance(name.c_str()), InstanceClaim::Claimed);
  CloseInstanceMutex();
}

TEST(SingleInstance, AnUnusableNameLetsTheLaunchGoOnUnchecked) {
  // A backslash is only allowed after a namespace prefix: the mutex cannot be made at all.
  EXPECT_EQ(ClaimSingleInstance("no\\such\\namespace"), InstanceClaim::Unchecked);
  EXPECT_EQ(InstanceMutex, nullptr);
}

}  // namespace
