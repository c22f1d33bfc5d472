// Finding a runtime with real registry keys (HKEY_LOCAL_MACHINE of the test's own Wine prefix) and
// real files: empty jvm.dll files in the layouts each source looks for, under a scratch folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "base/launch_config.h"
#include "base/process_state_win.h"
#include "base/text.h"
#include "fake_screen.h"
#include "runtime/runtime_lookup_win.h"
#include "runtime/runtime_search_win.h"
#include "runtime/search_order.h"
#include "scratch_files.h"

namespace {

using namespace corvane::test;

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// The rows of the older installers' table (its key names are checked by the host test of the
// search order).
const char* const* const RuntimeKeys = RuntimeRegistryKeys;
const char* const ValuesKey = "Software\\Corvane Test Values";
const char* const NoRuntimeText = "Unable to locate suitable Java Runtime (min %s) on this machine.";

// ---------------------------------------------------------------------------------------------
// Registry

struct RegistryValue {
  std::string name;
  DWORD type;
  std::string bytes;  // exactly as stored: a string's terminator is part of it when wanted
};

std::string Terminated(const std::string& text) { return text + std::string(1, '\0'); }

// The last name of the path is made below its parent's handle: Wine refuses a long name within a
// long path at once.
void WriteKey(const std::string& path, const std::vector<RegistryValue>& values) {
  const size_t last = path.rfind('\\');
  HKEY parent, key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.substr(0, last).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &parent, nullptr),
            ERROR_SUCCESS)
      << path;
  const LONG status = RegCreateKeyExA(parent, path.substr(last + 1).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                      &key, nullptr);
  RegCloseKey(parent);
  ASSERT_EQ(status, ERROR_SUCCESS) << path;
  for (const RegistryValue& value : values) {
    EXPECT_EQ(RegSetValueExA(key, value.name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(value.bytes.data()),
                             static_cast<DWORD>(value.bytes.size())),
              ERROR_SUCCESS)
        << path << " " << value.name;
  }
  RegCloseKey(key);
}

// A version subkey of a table row; an empty text leaves that value out.
void WriteRuntime(int row, const std::string& version, const std::string& javaHome, const std::string& runtimeLib) {
  std::vector<RegistryValue> values;
  if (!javaHome.empty()) values.push_back({"JavaHome", REG_SZ, Terminated(javaHome)});
  if (!runtimeLib.empty()) values.push_back({"RuntimeLib", REG_SZ, Terminated(runtimeLib)});
  WriteKey(std::string(RuntimeKeys[row]) + "\\" + version, values);
}

void WriteCurrentVersion(int row, const std::string& version) {
  WriteKey(RuntimeKeys[row], {{"CurrentVersion", REG_SZ, Terminated(version)}});
}

void DeleteTestKeys() {
  for (int row = 0; row < RuntimeRegistryRows; ++row) RegDeleteTreeA(HKEY_LOCAL_MACHINE, RuntimeKeys[row]);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, ValuesKey);
  // The vendors' keys too, but only when nothing else is below them (RegDeleteKeyA refuses then).
  for (const char* vendor : {"Software\\JavaSoft", "Software\\IBM", "Software\\JRockit"}) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, vendor);
  }
}

// ---------------------------------------------------------------------------------------------
// The fixture: registry rows empty, the settings of the search blank, JAVA_HOME unset, a scratch
// folder, and recorders in place of the shell; everything put back afterwards.

std::string EnvironmentValue(const char* name, bool* set) {
  const DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
  *set = needed > 0;
  if (needed == 0) return "";
  std::string value(needed, '\0');
  value.resize(GetEnvironmentVariableA(name, value.data(), needed));
  return value;
}

void RecordDocument(const char* document) { ScreenRecords().push_back({"open document", document, ""}); }
void RecordCommand(const char* commandLine) { ScreenRecords().push_back({"run command", commandLine, ""}); }

class RuntimeSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteTestKeys();
    for (size_t i = 0; i < std::size(fields_); ++i) {
      savedTexts_[i] = *fields_[i];
      *fields_[i] = CopyText("");
    }
    savedReportNoJvm_ = EditLaunchConfig().ReportNoJvm;
    EditLaunchConfig().ReportNoJvm = false;
    savedMessage_ = Message(MessageNoRuntime);
    SetMessage(MessageNoRuntime, CopyText(NoRuntimeText));
    savedJavaHome_ = EnvironmentValue("JAVA_HOME", &javaHomeSet_);
    SetEnvironmentVariableA("JAVA_HOME", nullptr);
    savedDocument_ = OpenNoJvmDocument;
    savedCommand_ = StartNoJvmCommand;
    OpenNoJvmDocument = RecordDocument;
    StartNoJvmCommand = RecordCommand;
    ScreenRecords().clear();

    root_ = MakeScratchRoot("cvrs");
    ASSERT_FALSE(root_.empty());
  }

  void TearDown() override {
    RemoveTree(LongForm(root_));
    DeleteTestKeys();
    for (size_t i = 0; i < std::size(fields_); ++i) {
      std::free(*fields_[i]);
      *fields_[i] = savedTexts_[i];
    }
    EditLaunchConfig().ReportNoJvm = savedReportNoJvm_;
    SetMessage(MessageNoRuntime, CopyText(savedMessage_.c_str()));
    SetEnvironmentVariableA("JAVA_HOME", javaHomeSet_ ? savedJavaHome_.c_str() : nullptr);
    OpenNoJvmDocument = savedDocument_;
    StartNoJvmCommand = savedCommand_;
    ScreenRecords().clear();
  }

  static void Set(char** field, const std::string& value) { ASSERT_TRUE(ReplaceConfigText(field, value.c_str())); }

  // A scratch path; `file` makes an empty file there.
  std::string At(const std::string& relative) const { return root_ + "\\" + relative; }
  std::string File(const std::string& relative) const {
    const std::string path = At(relative);
    EXPECT_TRUE(MakeFile(path)) << path;
    return path;
  }

  struct Outcome {
    bool found;
    std::string path;
  };
  // Runs the search; the home it found goes into home_.
  Outcome Locate() {
    RuntimeFound result;
    std::memset(&result, '#', sizeof(result));
    const bool found = LocateJavaRuntime(&result);
    home_ = result.home;
    return {found, found ? std::string(result.jvmDll) : std::string()};
  }

  std::string root_;
  std::string home_;

 private:
  char** const fields_[5] = {&EditLaunchConfig().JvmSearchOrder, &EditLaunchConfig().JvmPath, &EditLaunchConfig().JvmVersion,
                             &EditLaunchConfig().NoJvmDocument, &EditLaunchConfig().NoJvmCommand};
  char* savedTexts_[5] = {};
  bool savedReportNoJvm_ = false;
  std::string savedMessage_;
  std::string savedJavaHome_;
  bool javaHomeSet_ = false;
  void (*savedDocument_)(const char*) = nullptr;
  void (*savedCommand_)(const char*) = nullptr;
};

// Changes the current directory for one test.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::string& path) {
    GetCurrentDirectoryA(sizeof(saved_), saved_);
    SetCurrentDirectoryA(path.c_str());
  }
  ~CurrentDirectory() { SetCurrentDirectoryA(saved_); }

 private:
  char saved_[MAX_PATH + 1] = {};
};

// ---------------------------------------------------------------------------------------------
// QueryRegistryString

struct QueryCase {
  const char* name;
  DWORD type;
  std::string bytes;
  size_t size;
  int answer;
  std::string text;
};

class RegistryStrings : public RuntimeSearch, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(RegistryStrings, AreReadWhenTheyFitAndNeverPastTheBuffer) {
  const QueryCase& c = GetParam();
  WriteKey(ValuesKey, {{"Value", c.type, c.bytes}});
  std::vector<char> area(c.size + 64, '#');
  EXPECT_EQ(QueryRegistryString(HKEY_LOCAL_MACHINE, ValuesKey, "Value", area.data(), c.size), c.answer);
  EXPECT_EQ(std::string(area.data()), c.text);
  for (size_t i = c.size; i < area.size(); ++i) ASSERT_EQ(area[i], '#') << "written at " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistryStrings,
    ::testing::Values(
        QueryCase{"TerminatedString", REG_SZ, Terminated("C:\\jdk"), 16, 0, "C:\\jdk"},
        QueryCase{"ExpandableStringIsNotExpanded", REG_EXPAND_SZ, Terminated("%SystemRoot%\\j"), 16, 0,
                  "%SystemRoot%\\j"},
        QueryCase{"StringWithoutTerminator", REG_SZ, "C:\\jdk", 16, 0, "C:\\jdk"},
        QueryCase{"EmptyString", REG_SZ, Terminated(""), 16, 0, ""},
        QueryCase{"FillsTheBufferWithItsTerminator", REG_SZ, Terminated(std::string(14, 'a')), 16, 0,
                  std::string(14, 'a')},
        QueryCase{"OneCharacterTooLong", REG_SZ, Terminated(std::string(15, 'a')), 16, 1, ""},
        QueryCase{"FillsTheBufferWithoutTerminator", REG_SZ, std::string(15, 'a'), 16, 1, ""},
        QueryCase{"FarTooLong", REG_SZ, Terminated(std::string(300, 'a')), 16, 1, ""},
        QueryCase{"LongestHomeAPathHolds", REG_SZ, Terminated("C:\\" + std::string(255, 'h')), PathCapacity, 0,
                  "C:\\" + std::string(255, 'h')},
        QueryCase{"HomeOneCharacterTooLong", REG_SZ, Terminated("C:\\" + std::string(256, 'h')), PathCapacity, 1, ""},
        QueryCase{"NumberIsNoString", REG_DWORD, std::string("\x11\0\0\0", 4), 16, 1, ""},
        QueryCase{"BinaryIsNoString", REG_BINARY, "C:\\jdk", 16, 1, ""},
        QueryCase{"MultiStringIsNoString", REG_MULTI_SZ, Terminated(Terminated("C:\\jdk")), 16, 1, ""}),
    CaseName<QueryCase>);

TEST_F(RuntimeSearch, RegistryStringOfAMissingKeyOrValue) {
  WriteKey(ValuesKey, {{"Other", REG_SZ, Terminated("x")}});
  char buffer[16] = "stale";
  EXPECT_EQ(QueryRegistryString(HKEY_LOCAL_MACHINE, "Software\\Corvane Test Missing", "Value", buffer, sizeof(buffer)),
            -1);
  EXPECT_EQ(QueryRegistryString(HKEY_LOCAL_MACHINE, ValuesKey, "Value", buffer, sizeof(buffer)), 1);
  EXPECT_STREQ(buffer, "");
}

// ---------------------------------------------------------------------------------------------
// FindJvmDll

struct LetterCase {
  const char* name;
  const char* fileName;
};

class JvmDllLetterCase : public RuntimeSearch, public ::testing::WithParamInterface<LetterCase> {};

TEST_P(JvmDllLetterCase, IsFoundAndAnsweredInLowerCase) {
  File(std::string("home\\lib\\amd64\\") + GetParam().fileName);
  char result[PathCapacity];
  ASSERT_TRUE(FindJvmDll(At("home").c_str(), result));
  EXPECT_EQ(std::string(result), At("home\\lib\\amd64\\jvm.dll"));
  EXPECT_TRUE(CanOpenFile(result));
}

INSTANTIATE_TEST_SUITE_P(Cases, JvmDllLetterCase,
                         ::testing::Values(LetterCase{"Upper", "JVM.DLL"}, LetterCase{"Mixed", "Jvm.Dll"},
                                           LetterCase{"Lower", "jvm.dll"}),
                         CaseName<LetterCase>);

TEST_F(RuntimeSearch, FindJvmDllIgnoresNamesThatOnlyLookAlike) {
  File("home\\a\\jvm.dll.bak");
  File("home\\b\\jvm.dl");
  File("home\\c\\xjvm.dll");
  char result[PathCapacity] = "stale";
  EXPECT_FALSE(FindJvmDll(At("home").c_str(), result));
  EXPECT_STREQ(result, "");
  EXPECT_FALSE(FindJvmDll(At("missing").c_str(), result));
  EXPECT_STREQ(result, "");
}

TEST_F(RuntimeSearch, FindJvmDllSearchesAFolderNamedJvmDllInsteadOfTakingIt) {
  File("home\\jvm.dll\\server\\jvm.dll");
  char result[PathCapacity];
  ASSERT_TRUE(FindJvmDll(At("home").c_str(), result));
  EXPECT_EQ(std::string(result), At("home\\jvm.dll\\server\\jvm.dll"));
}

// The file's path is exactly `length` characters: one folder of the right name below home.
struct DepthCase {
  const char* name;
  size_t length;
  bool found;
};

class JvmDllDepth : public RuntimeSearch, public ::testing::WithParamInterface<DepthCase> {};

TEST_P(JvmDllDepth, StopsAtThePathLimit) {
  const std::string home = At("home");
  const size_t folder = GetParam().length - home.size() - 1 - std::strlen("\\jvm.dll");
  ASSERT_LT(folder, 250u);
  const std::string path = home + "\\" + std::string(folder, 'd') + "\\jvm.dll";
  ASSERT_EQ(path.size(), GetParam().length);
  ASSERT_TRUE(MakeFile(path));
  char result[PathCapacity];
  EXPECT_EQ(FindJvmDll(home.c_str(), result), GetParam().found);
  EXPECT_EQ(std::string(result), GetParam().found ? path : "");
}

INSTANTIATE_TEST_SUITE_P(Cases, JvmDllDepth,
                         ::testing::Values(DepthCase{"LongestPath", PathCapacity - 1, true},
                                           DepthCase{"OneCharacterTooLong", PathCapacity, false}),
                         CaseName<DepthCase>);

TEST_F(RuntimeSearch, FindJvmDllPassesOverATreeDeeperThanAPathAndGoesOn) {
  std::string deep = At("home\\deep");
  while (deep.size() < 600) deep += "\\" + std::string(100, 'n');
  ASSERT_TRUE(MakeFile(deep + "\\jvm.dll"));
  File("home\\ok\\jvm.dll");
  char result[PathCapacity];
  ASSERT_TRUE(FindJvmDll(At("home").c_str(), result));
  EXPECT_EQ(std::string(result), At("home\\ok\\jvm.dll"));
  EXPECT_FALSE(FindJvmDll(At("home\\deep").c_str(), result));
}

TEST_F(RuntimeSearch, FindJvmDllDoesNotFollowLinks) {
  File("elsewhere\\bin\\server\\jvm.dll");
  ASSERT_TRUE(MakeDirectories(At("home\\lib")));
  if (!MakeDirectoryLink(At("home"), "linked", "../elsewhere")) GTEST_SKIP() << "no directory link can be made here";
  const DWORD attributes = GetFileAttributesA(At("home\\linked").c_str());
  EXPECT_NE(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  ASSERT_TRUE(CanOpenFile(At("home\\linked\\bin\\server\\jvm.dll").c_str()));  // the link works

  char result[PathCapacity];
  EXPECT_FALSE(FindJvmDll(At("home").c_str(), result));
  EXPECT_STREQ(result, "");
  RemoveDirectoryLink(At("home"), "linked");
}

TEST_F(RuntimeSearch, FindJvmDllEndsOnALinkToItsOwnFolder) {
  File("home\\lib\\readme.txt");
  if (!MakeDirectoryLink(At("home\\lib"), "loop", "..")) GTEST_SKIP() << "no directory link can be made here";
  char result[PathCapacity];
  EXPECT_FALSE(FindJvmDll(At("home").c_str(), result));
  RemoveDirectoryLink(At("home\\lib"), "loop");
}

// ---------------------------------------------------------------------------------------------
// Digit 0: the path list

struct PathListCase {
  const char* name;
  std::string list;       // "@" stands for the scratch folder
  std::string expected;   // the same; "" when nothing is found
};

class PathList : public RuntimeSearch, public ::testing::WithParamInterface<PathListCase> {};

TEST_P(PathList, TakesTheFirstEntryThatOpens) {
  File("jre\\bin\\server\\jvm.dll");
  File("other\\jvm.dll");
  auto expand = [this](std::string text) {
    for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + root_.size())) {
      text.replace(at, 1, root_);
    }
    return text;
  };
  const std::string list = expand(GetParam().list);
  Set(&EditLaunchConfig().JvmSearchOrder, "0");
  Set(&EditLaunchConfig().JvmPath, list);
  CurrentDirectory current(root_);
  const Outcome outcome = Locate();
  EXPECT_EQ(outcome.found, !GetParam().expected.empty());
  EXPECT_EQ(outcome.path, expand(GetParam().expected));
  EXPECT_EQ(std::string(EditLaunchConfig().JvmPath), list);  // the list is read, not cut
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PathList,
    ::testing::Values(PathListCase{"SingleRelativeEntry", "jre\\bin\\server\\jvm.dll", "jre\\bin\\server\\jvm.dll"},
                      PathListCase{"MissingEntryIsPassed", "missing\\jvm.dll;@\\other\\jvm.dll", "@\\other\\jvm.dll"},
                      PathListCase{"FirstOfTwoThatOpen", "@\\other\\jvm.dll;jre\\bin\\server\\jvm.dll",
                                   "@\\other\\jvm.dll"},
                      PathListCase{"EmptyEntriesArePassed", ";;other\\jvm.dll;", "other\\jvm.dll"},
                      PathListCase{"OverlongEntryIsPassed", std::string(300, 'x') + ";other\\jvm.dll",
                                   "other\\jvm.dll"},
                      PathListCase{"FolderIsNoFile", "jre\\bin\\server;missing.dll", ""},
                      PathListCase{"EmptyList", "", ""}),
    CaseName<PathListCase>);

// ---------------------------------------------------------------------------------------------
// Digit 5: JAVA_HOME

struct JavaHomeCase {
  const char* name;
  std::vector<std::string> layouts;  // files below the home
  bool quoted;
  std::string expected;  // below the home
};

class JavaHome : public RuntimeSearch, public ::testing::WithParamInterface<JavaHomeCase> {};

TEST_P(JavaHome, YieldsTheFirstLayoutThatExists) {
  const JavaHomeCase& c = GetParam();
  for (const std::string& layout : c.layouts) File("jdk\\" + layout);
  const std::string home = At("jdk");
  SetEnvironmentVariableA("JAVA_HOME", (c.quoted ? "\"" + home + "\"" : home).c_str());
  Set(&EditLaunchConfig().JvmSearchOrder, "5");
  Set(&EditLaunchConfig().JvmVersion, "99");  // no version rule applies to JAVA_HOME
  const Outcome outcome = Locate();
  EXPECT_TRUE(outcome.found);
  EXPECT_EQ(outcome.path, home + "\\" + c.expected);
}

const char* const JreClient = "jre\\bin\\client\\jvm.dll";
const char* const JreServer = "jre\\bin\\server\\jvm.dll";
const char* const BinClient = "bin\\client\\jvm.dll";
const char* const BinServer = "bin\\server\\jvm.dll";

INSTANTIATE_TEST_SUITE_P(
    Cases, JavaHome,
    ::testing::Values(JavaHomeCase{"JreClient", {JreClient}, false, JreClient},
                      JavaHomeCase{"JreClientQuoted", {JreClient}, true, JreClient},
                      JavaHomeCase{"JreServer", {JreServer}, false, JreServer},
                      JavaHomeCase{"JreServerQuoted", {JreServer}, true, JreServer},
                      JavaHomeCase{"BinClient", {BinClient}, false, BinClient},
                      JavaHomeCase{"BinClientQuoted", {BinClient}, true, BinClient},
                      JavaHomeCase{"BinServer", {BinServer}, false, BinServer},
                      JavaHomeCase{"BinServerQuoted", {BinServer}, true, BinServer},
                      JavaHomeCase{"AllFourTakesJreClient", {BinServer, BinClient, JreServer, JreClient}, false,
                                   JreClient},
                      JavaHomeCase{"JreServerBeforeBin", {BinServer, BinClient, JreServer}, true, JreServer},
                      JavaHomeCase{"BinClientBeforeBinServer", {BinServer, BinClient}, false, BinClient}),
    CaseName<JavaHomeCase>);

TEST_F(RuntimeSearch, JavaHomeWithQuotesInsideAndATrailingBackslash) {
  File("my jdk\\bin\\server\\jvm.dll");
  SetEnvironmentVariableA("JAVA_HOME", ("\"" + root_ + "\\my\" jdk\\").c_str());
  Set(&EditLaunchConfig().JvmSearchOrder, "5");
  const Outcome outcome = Locate();
  EXPECT_TRUE(outcome.found);
  EXPECT_EQ(outcome.path, At("my jdk\\bin\\server\\jvm.dll"));
}

TEST_F(RuntimeSearch, JavaHomeUnsetOrWithoutRuntimeFindsNothing) {
  Set(&EditLaunchConfig().JvmSearchOrder, "5");
  EXPECT_FALSE(Locate().found);
  File("jdk\\lib\\server\\jvm.dll");  // not one of the four layouts
  SetEnvironmentVariableA("JAVA_HOME", At("jdk").c_str());
  EXPECT_FALSE(Locate().found);
  EXPECT_TRUE(ScreenRecords().empty());
}

// The home's length decides whether home\bin\server\jvm.dll still fits in a path.
struct HomeLengthCase {
  const char* name;
  size_t pathLength;  // of home\bin\server\jvm.dll
  bool found;
};

class JavaHomeLength : public RuntimeSearch, public ::testing::WithParamInterface<HomeLengthCase> {};

TEST_P(JavaHomeLength, ACandidateThatDoesNotFitIsNotFound) {
  const size_t homeLength = GetParam().pathLength - 1 - std::strlen(BinServer);
  const std::string home = root_ + "\\" + std::string(homeLength - root_.size() - 1, 'j');
  ASSERT_EQ(home.size(), homeLength);
  const std::string path = home + "\\" + BinServer;
  ASSERT_TRUE(MakeFile(path));
  SetEnvironmentVariableA("JAVA_HOME", home.c_str());
  Set(&EditLaunchConfig().JvmSearchOrder, "5");
  const Outcome outcome = Locate();
  EXPECT_EQ(outcome.found, GetParam().found);
  EXPECT_EQ(outcome.path, GetParam().found ? path : "");
}

INSTANTIATE_TEST_SUITE_P(Cases, JavaHomeLength,
                         ::testing::Values(HomeLengthCase{"LongestPath", PathCapacity - 1, true},
                                           HomeLengthCase{"OneCharacterTooLong", PathCapacity, false}),
                         CaseName<HomeLengthCase>);

TEST_F(RuntimeSearch, JavaHomeLongerThanAPathIsPassedOver) {
  File("jdk\\bin\\server\\jvm.dll");
  Set(&EditLaunchConfig().JvmSearchOrder, "50");
  Set(&EditLaunchConfig().JvmPath, At("jdk\\bin\\server\\jvm.dll"));
  for (size_t length : {250u, 259u, 260u, 1000u, 32000u}) {
    SetEnvironmentVariableA("JAVA_HOME", ("C:\\" + std::string(length - 3, 'j')).c_str());
    const Outcome outcome = Locate();  // digit 5 finds nothing, digit 0 then answers
    EXPECT_TRUE(outcome.found) << length;
    EXPECT_EQ(outcome.path, At("jdk\\bin\\server\\jvm.dll")) << length;
  }
}

// ---------------------------------------------------------------------------------------------
// The registry digits

TEST_F(RuntimeSearch, RejectedCurrentVersionGivesWayToAnAcceptedSubkey) {
  Set(&EditLaunchConfig().JvmSearchOrder, "1");
  Set(&EditLaunchConfig().JvmVersion, "17");
  WriteCurrentVersion(0, "1.8");
  WriteRuntime(0, "1.8", At("jre8"), File("jre8\\bin\\server\\jvm.dll"));
  WriteRuntime(0, "17.0.1", At("jdk17"), File("jdk17\\bin\\server\\jvm.dll"));
  const Outcome outcome = Locate();
  EXPECT_TRUE(outcome.found);
  EXPECT_EQ(outcome.path, At("jdk17\\bin\\server\\jvm.dll"));
  EXPECT_STREQ(home_.c_str(), At("jdk17").c_str());
}

TEST_F(RuntimeSearch, AcceptedCurrentVersionComesBeforeTheSubkeys) {
  Set(&EditLaunchConfig().JvmSearchOrder, "1");
  Set(&EditLaunchConfig().JvmVersion, "11");
  WriteRuntime(0, "11", At("jdk11"), File("jdk11\\bin\\server\\jvm.dll"));
  WriteRuntime(0, "21", At("jdk21"), File("jdk21\\bin\\server\\jvm.dll"));
  EXPECT_EQ(Locate().path, At("jdk11\\bin\\server\\jvm.dll"));  // the registry's first subkey
  WriteCurrentVersion(0, "21");
  EXPECT_EQ(Locate().path, At("jdk21\\bin\\server\\jvm.dll"));
  EXPECT_STREQ(home_.c_str(), At("jdk21").c_str());
}

struct RuleCase {
  const char* name;
  std::string rules;
  std::string expectedVersion;  // "" when none is accepted
};

class RegistryVersionRules : public RuntimeSearch, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(RegistryVersionRules, PickTheSubkeyEveryRuleAccepts) {
  Set(&EditLaunchConfig().JvmSearchOrder, "1");
  Set(&EditLaunchConfig().JvmVersion, GetParam().rules);
  for (const char* version : {"1.7.0_80", "1.8.0_202", "11.0.2"}) {
    WriteRuntime(0, version, At(version), File(std::string(version) + "\\bin\\server\\jvm.dll"));
  }
  const Outcome outcome = Locate();
  EXPECT_EQ(outcome.found, !GetParam().expectedVersion.empty());
  EXPECT_EQ(outcome.path,
            GetParam().expectedVersion.empty() ? "" : At(GetParam().expectedVersion + "\\bin\\server\\jvm.dll"));
}

INSTANTIATE_TEST_SUITE_P(Cases, RegistryVersionRules,
                         ::testing::Values(RuleCase{"RangeOfTwoRules", ">=1.8;<9", "1.8.0_202"},
                                           RuleCase{"MinimumAboveAll", "17", ""},
                                           RuleCase{"TwoCharacterUpperBound", "<9;>1.7.0_80", "1.8.0_202"},
                                           RuleCase{"TwoCharacterLowerBound", ">9", "11.0.2"},
                                           RuleCase{"ExactVersion", "=1.8.0_202", "1.8.0_202"},
                                           RuleCase{"NoVersionMatchesExactly", "=1.8", ""}),
                         CaseName<RuleCase>);

TEST_F(RuntimeSearch, MissingRuntimeLibFallsBackToTheJvmPathUnderJavaHome) {
  Set(&EditLaunchConfig().JvmSearchOrder, "1");
  Set(&EditLaunchConfig().JvmPath, "jre\\bin\\server\\jvm.dll");
  File("jdk\\jre\\bin\\server\\jvm.dll");
  File("jdk\\a\\jvm.dll");  // what a listing could find
  WriteRuntime(0, "17", At("jdk"), At("jdk\\missing\\jvm.dll"));
  EXPECT_EQ(Locate().path, At("jdk\\jre\\bin\\server\\jvm.dll"));
}

TEST_F(RuntimeSearch, EveryEntryOfTheJvmPathIsTriedUnderJavaHome) {
  Set(&EditLaunchConfig().JvmSearchOrder, "1");
  Set(&EditLaunchConfig().JvmPath, "jre\\bin\\server\\jvm.dll;bin\\server\\jvm.dll");
  File("jdk\\bin\\server\\jvm.dll");
  File("jdk\\a\\jvm.dll");
  WriteRuntime(0, "17", At("jdk"), "");
  EXPECT_EQ(Locate().path, At("jdk\\bin\\server\\jvm.dll"));
}

TEST_F(RuntimeSearch, JavaHomeAloneIsSearchedForAnyJvmDll) {
  Set(&EditLaunchConfig().JvmSearchOrder, "1");
  Set(&EditLaunchConfig().JvmPath, "jre\\bin\\server\\jvm.dll");
  File("jdk\\lib\\amd64\\JVM.DLL");
  WriteRuntime(0, "17", At("jdk"), "");
  const Outcome outcome = Locate();
  EXPECT_TRUE(outcome.found);
  EXPECT_EQ(outcome.path, At("jdk\\lib\\amd64\\jvm.dll"));
}

TEST_F(RuntimeSearch, SubkeyWithoutUsableValuesIsRejectedAndTheSearchGoesOn) {
  Set(&EditLaunchConfig().JvmSearchOrder, "1");
  WriteRuntime(0, "17", "", "");  // neither value
  WriteKey(std::string(RuntimeKeys[0]) + "\\18", {{"RuntimeLib", REG_BINARY, File("bin18\\jvm.dll")},
                                                  {"JavaHome", REG_DWORD, std::string("\1\0\0\0", 4)}});
  WriteRuntime(1, "19", At("empty19"), At("empty19\\jvm.dll"));  // a home holding no runtime
  ASSERT_TRUE(MakeDirectories(At("empty19")));
  WriteRuntime(2, "20", "", File("jdk20\\bin\\server\\jvm.dll"));
  const Outcome outcome = Locate();
  EXPECT_TRUE(outcome.found);
  EXPECT_EQ(outcome.path, At("jdk20\\bin\\server\\jvm.dll"));
  // The home of the last candidate that passed the rule, "" for the last one, which has none.
  EXPECT_STREQ(home_.c_str(), "");
}

TEST_F(RuntimeSearch, RegistryHomeOfARejectedCandidateStaysWhenAnotherSourceAnswers) {
  Set(&EditLaunchConfig().JvmSearchOrder, "15");
  WriteRuntime(0, "17", At("empty"), "");
  ASSERT_TRUE(MakeDirectories(At("empty")));
  File("jdk\\bin\\server\\jvm.dll");
  SetEnvironmentVariableA("JAVA_HOME", At("jdk").c_str());
  EXPECT_EQ(Locate().path, At("jdk\\bin\\server\\jvm.dll"));
  EXPECT_STREQ(home_.c_str(), At("empty").c_str());
}

// The layout a digit prefers under a home: the folders on disk are in capitals, so a path built from
// the preferred text (lower case) tells itself apart from one found by listing the home.
struct LayoutCase {
  const char* name;
  char digit;
  int row;
  std::string folders;   // on disk, below the home
  std::string expected;  // below the home
};

class RegistryLayouts : public RuntimeSearch, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(RegistryLayouts, PreferredSubpathComesBeforeTheListing) {
  const LayoutCase& c = GetParam();
  Set(&EditLaunchConfig().JvmSearchOrder, std::string(1, c.digit));
  Set(&EditLaunchConfig().JvmPath, "lib\\jvm.dll;bin\\server\\jvm.dll");
  File("home\\" + c.folders + "\\jvm.dll");
  WriteRuntime(c.row, "17", At("home"), At("home\\missing.dll"));
  const Outcome outcome = Locate();
  EXPECT_TRUE(outcome.found);
  EXPECT_EQ(outcome.path, At("home\\" + c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistryLayouts,
    ::testing::Values(
        // Which layout each digit prefers is the search order's table (a host test); here, how a
        // preferred layout is used. Digit 1 lists the home in its first pass already.
        LayoutCase{"Digit1Client", '1', 0, "JRE\\BIN\\CLIENT", "JRE\\BIN\\CLIENT\\jvm.dll"},
        LayoutCase{"Digit2ListsWhatItDoesNotPrefer", '2', 3, "JRE\\BIN\\SERVER", "JRE\\BIN\\SERVER\\jvm.dll"},
        LayoutCase{"Digit3JRockitServer", '3', 3, "JRE\\BIN\\SERVER", "jre\\bin\\server\\jvm.dll"},
        // The path list under the home comes first of all.
        LayoutCase{"JvmPathBeforePreferred", '3', 3, "BIN\\SERVER", "bin\\server\\jvm.dll"}),
    CaseName<LayoutCase>);

TEST_F(RuntimeSearch, SubkeyNameTooLongForTheKeyBufferIsNoCandidate) {
  Set(&EditLaunchConfig().JvmSearchOrder, "1");
  // Wine refuses key names much longer than this; with the key path it is far past 256 already.
  const std::string longName = "17." + std::string(237, 'x');
  WriteRuntime(0, longName, At("long"), File("long\\bin\\server\\jvm.dll"));
  WriteRuntime(1, "17", "", File("jdk\\bin\\server\\jvm.dll"));
  EXPECT_EQ(Locate().path, At("jdk\\bin\\server\\jvm.dll"));
  WriteCurrentVersion(0, longName);
  EXPECT_EQ(Locate().path, At("jdk\\bin\\server\\jvm.dll"));
}

TEST_F(RuntimeSearch, CheckRegistryRuntimeNeverWritesPastTheKeyBuffer) {
  const std::string key = RuntimeKeys[0];
  struct Case {
    size_t nameLength;
    bool appended;
  } cases[] = {{RegistryKeyCapacity - 2 - key.size(), true},  // key, "\" and name fill the buffer
               {RegistryKeyCapacity - 1 - key.size(), false},
               {255, false},
               {300, false}};
  for (const Case& c : cases) {
    std::vector<char> area(RegistryKeyCapacity + 400, '#');
    std::strcpy(area.data(), key.c_str());
    const std::string name = "17." + std::string(c.nameLength - 3, 'x');
    char result[PathCapacity];
    char home[PathCapacity];
    EXPECT_FALSE(CheckRegistryRuntime(area.data(), name.c_str(), result, sizeof(result), home, nullptr)) << c.nameLength;
    EXPECT_EQ(std::string(area.data()), c.appended ? key + "\\" + name : key) << c.nameLength;
    for (size_t i = RegistryKeyCapacity; i < area.size(); ++i) ASSERT_EQ(area[i], '#') << c.nameLength << " " << i;
  }
}

TEST_F(RuntimeSearch, CheckRegistryRuntimeKeepsToASmallResultBuffer) {
  const std::string lib = File("jdk\\bin\\server\\jvm.dll");
  WriteRuntime(0, "17", At("jdk"), lib);
  for (size_t size : {lib.size(), lib.size() + 1}) {
    std::vector<char> area(size + 300, '#');
    char keyPath[RegistryKeyCapacity];
    std::strcpy(keyPath, RuntimeKeys[0]);
    const bool fits = size > lib.size();
    char home[PathCapacity];
    EXPECT_EQ(CheckRegistryRuntime(keyPath, "17", area.data(), size, home, "bin\\server\\jvm.dll"), fits) << size;
    EXPECT_EQ(std::string(area.data()), fits ? lib : "") << size;
    for (size_t i = size; i < area.size(); ++i) ASSERT_EQ(area[i], '#') << size << " " << i;
  }
}

TEST_F(RuntimeSearch, DeepTreeUnderARegistryHomeIsPassedOver) {
  Set(&EditLaunchConfig().JvmSearchOrder, "1");
  std::string deep = At("deephome");
  while (deep.size() < 500) deep += "\\" + std::string(90, 'n');
  ASSERT_TRUE(MakeFile(deep + "\\jvm.dll"));
  WriteRuntime(0, "17", At("deephome"), "");
  WriteRuntime(2, "17", "", File("jdk\\bin\\server\\jvm.dll"));
  EXPECT_EQ(Locate().path, At("jdk\\bin\\server\\jvm.dll"));
}

TEST_F(RuntimeSearch, RuntimeLibTooLongForTheResultFallsBackToTheHome) {
  Set(&EditLaunchConfig().JvmSearchOrder, "1");
  File("jdk\\bin\\server\\jvm.dll");
  WriteRuntime(0, "17", At("jdk"), "C:\\" + std::string(300, 'r') + "\\jvm.dll");
  EXPECT_EQ(Locate().path, At("jdk\\bin\\server\\jvm.dll"));
}

// ---------------------------------------------------------------------------------------------
// The search order

struct OrderCase {
  const char* name;
  std::string order;
  std::string expected;  // "list", "registry", "home" or "" for none
};

class SearchOrder : public RuntimeSearch, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(SearchOrder, FirstSourceThatYieldsAPathWins) {
  Set(&EditLaunchConfig().JvmSearchOrder, GetParam().order);
  Set(&EditLaunchConfig().JvmPath, File("list\\jvm.dll"));
  WriteRuntime(3, "17", "", File("registry\\jvm.dll"));
  File("home\\bin\\server\\jvm.dll");
  SetEnvironmentVariableA("JAVA_HOME", At("home").c_str());
  const std::string expected = GetParam().expected == "home"       ? At("home\\bin\\server\\jvm.dll")
                               : GetParam().expected.empty() ? std::string()
                                                                   : At(GetParam().expected + "\\jvm.dll");
  const Outcome outcome = Locate();
  EXPECT_EQ(outcome.found, !expected.empty());
  EXPECT_EQ(outcome.path, expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SearchOrder,
                         ::testing::Values(OrderCase{"ListFirst", "0345", "list"},
                                           OrderCase{"HomeFirst", "5430", "home"},
                                           OrderCase{"RegistryFirst", "3540", "registry"},
                                           OrderCase{"SourcesWithoutRuntimeArePassed", "150", "home"},
                                           OrderCase{"OtherCharactersAreSkipped", "x9-,6 3", "registry"},
                                           OrderCase{"Empty", "", ""},
                                           OrderCase{"NoSourceDigit", "6789ab", ""}),
                         CaseName<OrderCase>);

// ---------------------------------------------------------------------------------------------
// The not-found reaction

struct ReactionCase {
  const char* name;
  bool reportNoJvm;
  std::string version;
  std::string document;
  std::string command;
  std::vector<ScreenRecord> expected;
};

class NotFound : public RuntimeSearch, public ::testing::WithParamInterface<ReactionCase> {};

TEST_P(NotFound, ReportsOpensAndRunsWhatIsConfigured) {
  const ReactionCase& c = GetParam();
  Set(&EditLaunchConfig().JvmSearchOrder, "012345");
  Set(&EditLaunchConfig().JvmPath, At("missing\\jvm.dll"));
  Set(&EditLaunchConfig().JvmVersion, c.version);
  Set(&EditLaunchConfig().NoJvmDocument, c.document);
  Set(&EditLaunchConfig().NoJvmCommand, c.command);
  EditLaunchConfig().ReportNoJvm = c.reportNoJvm;
  EXPECT_FALSE(Locate().found);
  ASSERT_EQ(ScreenRecords().size(), c.expected.size());
  for (size_t i = 0; i < c.expected.size(); ++i) {
    EXPECT_EQ(ScreenRecords()[i].kind, c.expected[i].kind) << i;
    EXPECT_EQ(ScreenRecords()[i].text, c.expected[i].text) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NotFound,
    ::testing::Values(
        ReactionCase{"NothingConfiguredShowsNothing", false, "17", "", "", {}},
        ReactionCase{"MessageWithTheRuleText",
                     true,
                     ">=1.8;<9",
                     "",
                     "",
                     {{"error box", "Unable to locate suitable Java Runtime (min >=1.8;<9) on this machine.", ""}}},
        ReactionCase{"RuleTextIsNoFormat",
                     true,
                     "%s%d 100%",
                     "",
                     "",
                     {{"error box", "Unable to locate suitable Java Runtime (min %s%d 100%) on this machine.", ""}}},
        ReactionCase{"DocumentWithoutMessage",
                     false,
                     "17",
                     "https://example.org/java",
                     "",
                     {{"open document", "https://example.org/java", ""}}},
        ReactionCase{"CommandWithoutMessage",
                     false,
                     "17",
                     "",
                     "install-java.exe /quiet",
                     {{"run command", "install-java.exe /quiet", ""}}},
        ReactionCase{"AllThreeInOrder",
                     true,
                     "",
                     "C:\\docs\\java.html",
                     "setup.exe",
                     {{"error box", "Unable to locate suitable Java Runtime (min ) on this machine.", ""},
                      {"open document", "C:\\docs\\java.html", ""},
                      {"run command", "setup.exe", ""}}}),
    CaseName<ReactionCase>);

TEST_F(RuntimeSearch, FoundRuntimeShowsNothing) {
  Set(&EditLaunchConfig().JvmSearchOrder, "0");
  Set(&EditLaunchConfig().JvmPath, File("jvm.dll"));
  Set(&EditLaunchConfig().NoJvmDocument, "https://example.org/java");
  Set(&EditLaunchConfig().NoJvmCommand, "setup.exe");
  EditLaunchConfig().ReportNoJvm = true;
  EXPECT_TRUE(Locate().found);
  EXPECT_TRUE(ScreenRecords().empty());
}

}  // namespace
