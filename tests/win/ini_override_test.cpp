// ApplyIniOverrides with real INI files, read through the system's profile functions, in a scratch
// directory made current for the test (at start-up it is the executable's directory).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../shared/ini_settings.h"
#include "base/ini_override.h"
#include "base/launch_config.h"
#include "base/process_state_win.h"
#include "base/text.h"
#include "runtime/runtime_search_win.h"
#include "scratch_files.h"

namespace {

using corvane::test::ExecutableDirectory;

using Settings = IniSettings;

void Store(const Settings& s) { StoreIniSettings(&EditLaunchConfig(), s); }
Settings Read() { return ReadIniSettings(LaunchConfig); }
void FreeTexts() {
  FreeIniSettings(&EditLaunchConfig());
  std::free(EditLaunchConfig().IniFile);
}

// A scratch directory made current, LaunchConfig with known settings and no registry runtime found
// yet; everything is put back afterwards.
class IniOverrideTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(GetCurrentDirectoryA(sizeof(savedDirectory_), savedDirectory_), 0u);
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    root_ = std::string(temp) + "corvane-ini-test-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr)) << GetLastError();
    ASSERT_TRUE(SetCurrentDirectoryA(root_.c_str()));
    savedConfig_ = LaunchConfig;
    std::memcpy(savedHome_, RegistryJavaHome, sizeof(savedHome_));
    RegistryJavaHome[0] = '\0';
    Store(Settings());
    EditLaunchConfig().IniFile = CopyText("");
  }

  void TearDown() override {
    FreeTexts();
    EditLaunchConfig() = savedConfig_;
    std::memcpy(RegistryJavaHome, savedHome_, sizeof(savedHome_));
    SetCurrentDirectoryA(savedDirectory_);
    for (const std::string& file : files_) DeleteFileA(file.c_str());
    RemoveDirectoryA((root_ + "\\conf").c_str());
    RemoveDirectoryA(root_.c_str());
  }

  // Writes a file below the scratch directory (a "conf" folder is made when the name needs it).
  void CreateIni(const std::string& name, const std::string& content) {
    if (name.rfind("conf\\", 0) == 0) CreateDirectoryA((root_ + "\\conf").c_str(), nullptr);
    const std::string path = root_ + "\\" + name;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
    CloseHandle(file);
    files_.push_back(path);
  }

  void NameIniFile(const std::string& name) { ASSERT_TRUE(ReplaceConfigText(&EditLaunchConfig().IniFile, name.c_str())); }

  char savedDirectory_[MAX_PATH + 1] = {};
  std::string root_;
  std::vector<std::string> files_;
  LaunchConfigRecord savedConfig_{};
  char savedHome_[PathCapacity] = {};
};

constexpr char Section[] = "[Application Configuration]\r\n";

struct IniCase {
  const char* name;
  std::string content;        // of app.ini
  void (*before)(Settings&);  // changes to the default settings before the file is applied
  void (*after)(Settings&);   // the expected changes
};
void PrintTo(const IniCase& c, std::ostream* out) { *out << c.name; }

void Unchanged(Settings&) {}

class ApplyIniFile : public IniOverrideTest, public ::testing::WithParamInterface<IniCase> {};

TEST_P(ApplyIniFile, ChangesTheSettingsByEachKeysRule) {
  const IniCase& c = GetParam();
  Settings before;
  c.before(before);
  Settings expected = before;
  c.after(expected);
  FreeIniSettings(&EditLaunchConfig());
  Store(before);
  std::free(EditLaunchConfig().IniFile);
  EditLaunchConfig().IniFile = CopyText("app.ini");
  CreateIni("app.ini", c.content);

  ApplyIniOverrides();
  EXPECT_EQ(Read(), expected);
}

std::string CaseName(const ::testing::TestParamInfo<IniCase>& info) { return info.param.name; }

const std::string LongestValue = "-Dx=" + std::string(4095 - 4, 'v');

INSTANTIATE_TEST_SUITE_P(
    Cases, ApplyIniFile,
    ::testing::Values(
        IniCase{"EmptyValuesLeaveTheSettings",
                std::string(Section) + "JvmOptions=\r\nStdOutFile=\r\nStdOutFileAppend=\r\nShowConsole=\r\n",
                Unchanged, Unchanged},
        IniCase{"OtherSectionsAreNotRead", "[Other]\r\nJvmVersion=11\r\nShowConsole=1\r\n", Unchanged, Unchanged},
        IniCase{"EachTextIsReplaced",
                std::string(Section) +
                    "JvmVersion=11\r\nJvmPath=C:\\jdk\\bin\\server\\jvm.dll\r\nJvmOptions=-Xss1m -Dy=2\r\n"
                    "AppOptions=a b\r\nAppMutex=OnlyOne\r\nStaticOptions=--flag\r\n",
                Unchanged,
                [](Settings& s) {
                  s.JvmVersion = "11";
                  s.JvmPath = "C:\\jdk\\bin\\server\\jvm.dll";
                  s.JvmOptions = "-Xss1m -Dy=2";
                  s.AppOptions = "a b";
                  s.AppMutex = "OnlyOne";
                  s.StaticOptions = "--flag";
                }},
        IniCase{"AppDirIsExpanded", std::string(Section) + "StdErrFile=%APPDIR%\\logs\\err.log\r\n", Unchanged,
                [](Settings& s) {
                  s.StdErrFile = ExecutableDirectory() + "\\logs\\err.log";
                  s.StdErrMode = StreamFile;
                }},
        IniCase{"JavaHomeIsNotKnownYet",
                std::string(Section) + "JvmOptions=-Djh=%JAVA_HOME%\r\nJvmPath=%JAVA_HOME%\r\n", Unchanged,
                [](Settings& s) {
                  s.JvmOptions = "-Djh=";
                  s.JvmPath = "%JAVA_HOME%";
                }},
        IniCase{"LongestValueIsAppliedWhole", std::string(Section) + "JvmOptions=" + LongestValue + "\r\n",
                Unchanged, [](Settings& s) { s.JvmOptions = LongestValue; }},
        IniCase{"LongerValueIsRefusedNotCut",
                std::string(Section) + "JvmOptions=" + LongestValue + "w\r\nAppOptions=" + std::string(9000, 'a') +
                    "\r\n",
                Unchanged, Unchanged}),
    CaseName);

TEST_F(IniOverrideTest, NoIniFileChangesNothing) {
  CreateIni("app.ini", std::string(Section) + "JvmVersion=11\r\n");
  for (const char* name : {"", "missing.ini", "conf"}) {
    NameIniFile(name);
    ApplyIniOverrides();
    EXPECT_EQ(Read(), Settings()) << name;
  }
}

TEST_F(IniOverrideTest, FindsTheFileRelativeToTheCurrentDirectory) {
  CreateIni("conf\\app.ini", std::string(Section) + "JvmVersion=11\r\n");
  NameIniFile("conf\\app.ini");
  ApplyIniOverrides();
  EXPECT_EQ(Read().JvmVersion, "11");
}

TEST_F(IniOverrideTest, AnAbsoluteNameIsUsedAsItIs) {
  CreateIni("app.ini", std::string(Section) + "JvmVersion=11\r\n");
  NameIniFile(root_ + "\\app.ini");
  ASSERT_TRUE(SetCurrentDirectoryA(ExecutableDirectory().c_str()));
  ApplyIniOverrides();
  EXPECT_EQ(Read().JvmVersion, "11");
}

}  // namespace
