// ExpandVariables and PrepareOutputPath with this process's real values: its directory, the clock,
// the memory status, the environment and the registry runtime's home.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/process_state_win.h"
#include "base/text.h"
#include "base/variables.h"
#include "runtime/runtime_search_win.h"
#include "scratch_files.h"

namespace {

using corvane::test::ExecutableDirectory;

std::string Expand(const char* text) {
  HeapText result(ExpandVariables(text));
  EXPECT_NE(result, nullptr);
  return result ? result.get() : "<null>";
}

// Sets (or, with null, removes) an environment variable for one test and puts it back.
class EnvironmentVariable {
 public:
  EnvironmentVariable(const char* name, const char* value) : name_(name) {
    std::vector<char> old(32768);
    const DWORD length = GetEnvironmentVariableA(name, old.data(), static_cast<DWORD>(old.size()));
    existed_ = length > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    old_.assign(old.data(), length < old.size() ? length : 0);
    SetEnvironmentVariableA(name, value);
  }
  ~EnvironmentVariable() { SetEnvironmentVariableA(name_.c_str(), existed_ ? old_.c_str() : nullptr); }
  EnvironmentVariable(const EnvironmentVariable&) = delete;
  EnvironmentVariable& operator=(const EnvironmentVariable&) = delete;

 private:
  std::string name_, old_;
  bool existed_ = false;
};

// Gives RegistryJavaHome a value for one test and puts the old one back.
class RegistryHome {
 public:
  explicit RegistryHome(const char* value) {
    std::memcpy(saved_, RegistryJavaHome, sizeof(saved_));
    std::strncpy(RegistryJavaHome, value, PathCapacity - 1);
    RegistryJavaHome[PathCapacity - 1] = '\0';
  }
  ~RegistryHome() { std::memcpy(RegistryJavaHome, saved_, sizeof(saved_)); }
  RegistryHome(const RegistryHome&) = delete;
  RegistryHome& operator=(const RegistryHome&) = delete;

 private:
  char saved_[PathCapacity];
};

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// ---------------------------------------------------------------------------------------------
// APPDIR, JAVA_HOME and the environment

struct ValueCase {
  const char* name;
  const char* text;
  std::string (*expected)();
};
void PrintTo(const ValueCase& c, std::ostream* out) { *out << c.name; }

class ExpandVariablesOfThisProcess : public ::testing::TestWithParam<ValueCase> {
 protected:
  RegistryHome home_{"C:\\Registry\\jdk-17"};
  EnvironmentVariable javaHome_{"JAVA_HOME", "C:\\Environment\\jdk"};
  EnvironmentVariable plain_{"CV_TEST_PLAIN", "plain value"};
  EnvironmentVariable quoted_{"CV_TEST_QUOTED", "\"C:\\Program Files\\App\""};
  EnvironmentVariable lone_{"CV_TEST_LONE_QUOTE", "\""};
  EnvironmentVariable two_{"CV_TEST_TWO_QUOTES", "\"\""};
  EnvironmentVariable unset_{"CV_TEST_UNSET", nullptr};
  EnvironmentVariable lowerMemory_{"availram50", "from the environment"};
};

TEST_P(ExpandVariablesOfThisProcess, ReplacesReferencesByTheirValues) {
  const ValueCase& c = GetParam();
  EXPECT_EQ(Expand(c.text), c.expected()) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExpandVariablesOfThisProcess,
    ::testing::Values(
        ValueCase{"AppDir", "%APPDIR%\\logs", [] { return ExecutableDirectory() + "\\logs"; }},
        ValueCase{"AppDirInAnyCase", "%appdir%;%AppDir%",
                  [] { return ExecutableDirectory() + ";" + ExecutableDirectory(); }},
        ValueCase{"JavaHomeIsTheRegistryRuntime", "%JAVA_HOME%\\bin",
                  [] { return std::string("C:\\Registry\\jdk-17\\bin"); }},
        ValueCase{"JavaHomeInOtherCaseIsTheEnvironment", "%java_home%",
                  [] { return std::string("C:\\Environment\\jdk"); }},
        ValueCase{"EnvironmentVariable", "-Dv=%CV_TEST_PLAIN%", [] { return std::string("-Dv=plain value"); }},
        ValueCase{"EnvironmentNamesIgnoreCaseOnWindows", "%cv_test_plain%",
                  [] { return std::string("plain value"); }},
        ValueCase{"QuotedValueLosesItsQuotes", "[%CV_TEST_QUOTED%]",
                  [] { return std::string("[C:\\Program Files\\App]"); }},
        ValueCase{"LoneQuoteInsertsNothing", "[%CV_TEST_LONE_QUOTE%]", [] { return std::string("[]"); }},
        ValueCase{"TwoQuotesInsertNothing", "[%CV_TEST_TWO_QUOTES%]", [] { return std::string("[]"); }},
        ValueCase{"UnsetAloneComesBackUnchanged", "%CV_TEST_UNSET%", [] { return std::string("%CV_TEST_UNSET%"); }},
        ValueCase{"UnsetAmongTextVanishes", "x%CV_TEST_UNSET%y", [] { return std::string("xy"); }},
        ValueCase{"LowerCaseMemoryNameIsAnEnvironmentVariable", "%availram50%",
                  [] { return std::string("from the environment"); }},
        ValueCase{"UnclosedReferenceStays", "50%", [] { return std::string("50%"); }},
        ValueCase{"TwoPercentSignsInTextAreRemoved", "a%%b", [] { return std::string("ab"); }},
        ValueCase{"NoPercentSigns", "-Dplain=1", [] { return std::string("-Dplain=1"); }},
        ValueCase{"Empty", "", [] { return std::string(); }}),
    CaseName<ValueCase>);

TEST(ExpandVariables, JavaHomeBeforeAnyRuntimeWasFound) {
  RegistryHome home("");
  EnvironmentVariable javaHome("JAVA_HOME", "C:\\Environment\\jdk");
  EXPECT_EQ(Expand("-Djh=%JAVA_HOME%"), "-Djh=");
  EXPECT_EQ(Expand("%JAVA_HOME%"), "%JAVA_HOME%");
}

TEST(ExpandVariables, LongEnvironmentValuesAreInsertedWhole) {
  const std::string value(5000, 'v');
  EnvironmentVariable variable("CV_TEST_LONG", value.c_str());
  EXPECT_EQ(Expand("<%CV_TEST_LONG%>"), "<" + value + ">");
}

// ---------------------------------------------------------------------------------------------
// DATE and TIME, compared with the system's own formatting. The clock moves, so each is taken
// between two readings; while both readings agree the expansion must give exactly that text.

std::string Formatted(bool date) {
  char text[256] = {};
  const int length = date ? GetDateFormatA(GetThreadLocale(), 0, nullptr, "yyyyMMdd", text, sizeof(text))
                          : GetTimeFormatA(GetThreadLocale(), 0, nullptr, "HHmmss", text, sizeof(text));
  EXPECT_GT(length, 0);
  return text;
}

struct ClockCase {
  const char* name;
  bool date;
  const char* text;
  const char* prefix;
  const char* suffix;
};
void PrintTo(const ClockCase& c, std::ostream* out) { *out << c.name; }

class ExpandClock : public ::testing::TestWithParam<ClockCase> {};

TEST_P(ExpandClock, GivesTheSystemsFormattedValue) {
  const ClockCase& c = GetParam();
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::string before = Formatted(c.date);
    const std::string expanded = Expand(c.text);
    const std::string after = Formatted(c.date);
    if (before != after) continue;  // the clock moved on meanwhile; read again
    EXPECT_EQ(expanded, c.prefix + before + c.suffix);
    EXPECT_EQ(before.size(), c.date ? 8u : 6u) << before;
    return;
  }
  FAIL() << "the clock never stood still for one expansion";
}

INSTANTIATE_TEST_SUITE_P(Cases, ExpandClock,
                         ::testing::Values(ClockCase{"Date", true, "%DATE%", "", ""},
                                           ClockCase{"DateInMixedCase", true, "log-%Date%.txt", "log-", ".txt"},
                                           ClockCase{"Time", false, "%TIME%", "", ""},
                                           ClockCase{"TimeInLowerCase", false, "t%time%t", "t", "t"}),
                         CaseName<ClockCase>);

// ---------------------------------------------------------------------------------------------
// Memory

bool IsMegabytes(const std::string& text) {
  if (text.size() < 2 || text.back() != 'm') return false;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

TEST(ExpandVariables, TotalRamIsTheInstalledMemoryInMiB) {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof(status);
  ASSERT_TRUE(GlobalMemoryStatusEx(&status));
  const std::string total = Expand("%TOTALRAM%");
  ASSERT_TRUE(IsMegabytes(total)) << total;
  const unsigned long long megabytes = status.ullTotalPhys >> 20;
  EXPECT_EQ(total, std::to_string(megabytes < 64 ? 64 : megabytes) + "m");
}

TEST(ExpandVariables, MemoryReferencesGiveANumberOfMiB) {
  for (const char* text : {"%TOTALRAM50%", "%AVAILRAM%", "%AVAILRAM25%", "%AVAILRAM0%", "%AVAILRAMx%"}) {
    const std::string value = Expand(text);
    EXPECT_TRUE(IsMegabytes(value)) << text << " gave " << value;
    EXPECT_GE(std::stoll(value), 64) << text;
  }
  EXPECT_EQ(Expand("-Xmx%TOTALRAM50%").rfind("-Xmx", 0), 0u);
}

// ---------------------------------------------------------------------------------------------
// Two threads at once (two service stop calls): each keeps its own values.

TEST(ExpandVariables, TwoThreadsAtOnceGiveTheSameResultsAsOne) {
  EnvironmentVariable plain("CV_TEST_PLAIN", "plain value");
  const char* const firstText = "%APPDIR%|%CV_TEST_PLAIN%";
  const char* const secondText = "%TOTALRAM%|%TOTALRAM10%";
  const std::string first = Expand(firstText);
  const std::string second = Expand(secondText);
  int firstMismatches = 0, secondMismatches = 0;
  std::thread one([&] {
    for (int i = 0; i < 2000; ++i) firstMismatches += Expand(firstText) != first;
  });
  std::thread two([&] {
    for (int i = 0; i < 2000; ++i) secondMismatches += Expand(secondText) != second;
  });
  one.join();
  two.join();
  EXPECT_EQ(firstMismatches, 0);
  EXPECT_EQ(secondMismatches, 0);
}

// ---------------------------------------------------------------------------------------------
// PrepareOutputPath, in a scratch directory made current for the test.

class PrepareOutputPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(GetCurrentDirectoryA(sizeof(savedDirectory_), savedDirectory_), 0u);
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    ASSERT_GT(length, 0u);
    root_ = std::string(temp) + "corvane-output-test-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr)) << GetLastError();
    ASSERT_TRUE(SetCurrentDirectoryA(root_.c_str()));
  }

  void TearDown() override {
    SetCurrentDirectoryA(savedDirectory_);
    RemoveTree(root_);
  }

  static void RemoveTree(const std::string& directory) {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((directory + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = directory + "\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(path);
        } else {
          DeleteFileA(path.c_str());
        }
      } while (FindNextFileA(find, &entry));
      FindClose(find);
    }
    RemoveDirectoryA(directory.c_str());
  }

  static bool IsDirectory(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  static bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

  static std::string Prepare(const std::string& path) {
    HeapText result(PrepareOutputPath(path.c_str()));
    EXPECT_NE(result, nullptr);
    return result ? result.get() : "<null>";
  }

  char savedDirectory_[MAX_PATH + 1] = {};
  std::string root_;
};

struct OutputCase {
  const char* name;
  const char* path;  // relative to the scratch directory
  std::vector<std::string> folders;
  const char* file;
};
void PrintTo(const OutputCase& c, std::ostream* out) { *out << c.name; }

class PrepareRelativeOutputPath : public PrepareOutputPathTest, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(PrepareRelativeOutputPath, CreatesEveryFolderButNotTheFile) {
  const OutputCase& c = GetParam();
  EnvironmentVariable logs("CV_TEST_LOGS", "\"my logs\"");
  const std::string expanded = Prepare(c.path);
  for (const std::string& folder : c.folders) EXPECT_TRUE(IsDirectory(root_ + "\\" + folder)) << folder;
  EXPECT_FALSE(Exists(root_ + "\\" + c.file)) << c.file;
  EXPECT_EQ(expanded, c.file);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PrepareRelativeOutputPath,
    ::testing::Values(OutputCase{"OneFolder", "logs\\stdout.log", {"logs"}, "logs\\stdout.log"},
                      OutputCase{"NestedFolders", "a\\b\\c\\err.log", {"a", "a\\b", "a\\b\\c"}, "a\\b\\c\\err.log"},
                      OutputCase{"FolderFromTheEnvironment", "%CV_TEST_LOGS%\\out.log", {"my logs"},
                                 "my logs\\out.log"},
                      OutputCase{"NoFolder", "out.log", {}, "out.log"},
                      OutputCase{"DoubledBackslash", "x\\\\y\\z.log", {"x", "x\\y"}, "x\\\\y\\z.log"}),
    CaseName<OutputCase>);

TEST_F(PrepareOutputPathTest, KeepsFoldersThatExistAndTheirFiles) {
  ASSERT_TRUE(CreateDirectoryA((root_ + "\\logs").c_str(), nullptr));
  HANDLE file = CreateFileA((root_ + "\\logs\\kept.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_EQ(Prepare("logs\\new\\out.log"), "logs\\new\\out.log");
  EXPECT_TRUE(Exists(root_ + "\\logs\\kept.txt"));
  EXPECT_TRUE(IsDirectory(root_ + "\\logs\\new"));
}

TEST_F(PrepareOutputPathTest, CreatesFoldersOfAnAbsolutePath) {
  const std::string path = root_ + "\\abs\\deeper\\out.log";
  EXPECT_EQ(Prepare(path), path);
  EXPECT_TRUE(IsDirectory(root_ + "\\abs\\deeper"));
  EXPECT_FALSE(Exists(path));
}

TEST_F(PrepareOutputPathTest, CreatesFoldersBelowTheExecutablesDirectory) {
  const std::string folder = "corvane-output-test-" + std::to_string(GetCurrentProcessId());
  const std::string base = ExecutableDirectory() + "\\" + folder;
  ASSERT_FALSE(Exists(base));
  const std::string expanded = Prepare("%APPDIR%\\" + folder + "\\a\\err.log");
  EXPECT_EQ(expanded, base + "\\a\\err.log");
  EXPECT_TRUE(IsDirectory(base));
  EXPECT_TRUE(IsDirectory(base + "\\a"));
  EXPECT_FALSE(Exists(base + "\\a\\err.log"));
  RemoveTree(base);
}

TEST_F(PrepareOutputPathTest, APathLongerThanAPathBufferComesBackWhole) {
  const std::string path = "long\\" + std::string(300, 'n') + "\\out.log";
  EXPECT_EQ(Prepare(path), path);
  EXPECT_TRUE(IsDirectory(root_ + "\\long"));
}

}  // namespace
