// ApplyIniOverrides with real INI files, read through the system's profile functions, in a scratch
// directory made current for the test (at start-up it is the executable's directory).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/ini_override.h"
#include "launcher/launch_config.h"
#include "runtime/runtime_search.h"
#include "runtime/text.h"

namespace {

std::string ExecutableDirectory() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  EXPECT_GT(length, 0u);
  EXPECT_LT(length, static_cast<DWORD>(sizeof(path)));
  std::string directory(path);
  return directory.substr(0, directory.rfind('\\'));
}

// The settings the INI file may touch, as plain values.
struct Settings {
  std::string JvmVersion = "17";
  std::string JvmPath = "jre\\bin\\server\\jvm.dll";
  std::string JvmOptions = "-Da=1";
  std::string AppOptions = "";
  std::string AppMutex = "org/example/Main";
  std::string StaticOptions = "--static";
  std::string StdOutFile = "logs\\stdout.log";
  std::string StdErrFile = "logs\\stderr.log";
  int32_t StdOutMode = StreamCapture;
  int32_t StdErrMode = StreamFile;
  bool StdOutFileAppend = true;
  bool StdErrFileAppend = false;
  bool ShowConsole = false;

  bool operator==(const Settings&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Settings& s) {
  return out << "{JvmVersion=" << s.JvmVersion << " JvmPath=" << s.JvmPath << " JvmOptions=[" << s.JvmOptions
             << "] AppOptions=" << s.AppOptions << " AppMutex=" << s.AppMutex << " StaticOptions=" << s.StaticOptions
             << " StdOutFile=" << s.StdOutFile << " StdErrFile=" << s.StdErrFile << " StdOutMode=" << s.StdOutMode
             << " StdErrMode=" << s.StdErrMode << " StdOutFileAppend=" << s.StdOutFileAppend
             << " StdErrFileAppend=" << s.StdErrFileAppend << " ShowConsole=" << s.ShowConsole << "}";
}

char* LaunchConfigRecord::*const TextFields[] = {
    &LaunchConfigRecord::JvmVersion, &LaunchConfigRecord::JvmPath,       &LaunchConfigRecord::JvmOptions,
    &LaunchConfigRecord::AppOptions, &LaunchConfigRecord::AppMutex,      &LaunchConfigRecord::StaticOptions,
    &LaunchConfigRecord::StdOutFile, &LaunchConfigRecord::StdErrFile,    &LaunchConfigRecord::IniFile,
};

void Store(const Settings& s) {
  LaunchConfigRecord& c = LaunchConfig;
  c.JvmVersion = CopyText(s.JvmVersion.c_str());
  c.JvmPath = CopyText(s.JvmPath.c_str());
  c.JvmOptions = CopyText(s.JvmOptions.c_str());
  c.AppOptions = CopyText(s.AppOptions.c_str());
  c.AppMutex = CopyText(s.AppMutex.c_str());
  c.StaticOptions = CopyText(s.StaticOptions.c_str());
  c.StdOutFile = CopyText(s.StdOutFile.c_str());
  c.StdErrFile = CopyText(s.StdErrFile.c_str());
  c.StdOutMode = s.StdOutMode;
  c.StdErrMode = s.StdErrMode;
  c.StdOutFileAppend = s.StdOutFileAppend;
  c.StdErrFileAppend = s.StdErrFileAppend;
  c.ShowConsole = s.ShowConsole;
}

Settings Read() {
  const LaunchConfigRecord& c = LaunchConfig;
  Settings s;
  s.JvmVersion = c.JvmVersion;
  s.JvmPath = c.JvmPath;
  s.JvmOptions = c.JvmOptions;
  s.AppOptions = c.AppOptions;
  s.AppMutex = c.AppMutex;
  s.StaticOptions = c.StaticOptions;
  s.StdOutFile = c.StdOutFile;
  s.StdErrFile = c.StdErrFile;
  s.StdOutMode = c.StdOutMode;
  s.StdErrMode = c.StdErrMode;
  s.StdOutFileAppend = c.StdOutFileAppend;
  s.StdErrFileAppend = c.StdErrFileAppend;
  s.ShowConsole = c.ShowConsole;
  return s;
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
    LaunchConfig.IniFile = CopyText("");
  }

  void TearDown() override {
    for (char* LaunchConfigRecord::*field : TextFields) std::free(LaunchConfig.*field);
    LaunchConfig = savedConfig_;
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

  void NameIniFile(const std::string& name) { ASSERT_TRUE(ReplaceConfigText(&LaunchConfig.IniFile, name.c_str())); }

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
  for (char* LaunchConfigRecord::*field : TextFields) std::free(LaunchConfig.*field);
  Store(before);
  LaunchConfig.IniFile = CopyText("app.ini");
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
        IniCase{"AppendJoinsWithOneBlank", std::string(Section) + "JvmOptionsAppend=-Xmx512m\r\n", Unchanged,
                [](Settings& s) { s.JvmOptions = "-Da=1 -Xmx512m"; }},
        IniCase{"AppendToEmptyOptionsLeadsWithABlank", std::string(Section) + "JvmOptionsAppend=-Xmx512m\r\n",
                [](Settings& s) { s.JvmOptions = ""; }, [](Settings& s) { s.JvmOptions = " -Xmx512m"; }},
        IniCase{"TrueClearsAnAppendFlag", std::string(Section) + "StdOutFileAppend=true\r\nStdErrFileAppend=1\r\n",
                Unchanged,
                [](Settings& s) {
                  s.StdOutFileAppend = false;
                  s.StdErrFileAppend = true;
                }},
        IniCase{"ConsoleWinsOverStreamFilesOfTheSameFile",
                std::string(Section) + "ShowConsole=1\r\nStdOutFile=out.txt\r\nStdErrFile=err.txt\r\n", Unchanged,
                [](Settings& s) {
                  s.StdOutFile = "out.txt";
                  s.StdErrFile = "err.txt";
                  s.StdOutMode = StreamNone;
                  s.StdErrMode = StreamNone;
                  s.ShowConsole = true;
                }},
        IniCase{"OtherConsoleValuesLeaveTheStreams",
                std::string(Section) + "ShowConsole=yes\r\nStdOutFile=out.txt\r\n", Unchanged,
                [](Settings& s) {
                  s.StdOutFile = "out.txt";
                  s.StdOutMode = StreamFile;
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
