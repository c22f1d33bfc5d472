#include "base/ini_values.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "../shared/ini_settings.h"
#include "base/text.h"
#include "base/variable_expansion.h"

namespace {

using Settings = IniSettings;

// A LaunchConfig holding given settings, freed at the end of the test.
class ConfigUnderTest {
 public:
  explicit ConfigUnderTest(const Settings& s) : config_{} { StoreIniSettings(&config_, s); }
  ~ConfigUnderTest() { FreeIniSettings(&config_); }
  ConfigUnderTest(const ConfigUnderTest&) = delete;
  ConfigUnderTest& operator=(const ConfigUnderTest&) = delete;

  LaunchConfigRecord* get() { return &config_; }
  Settings Read() const { return ReadIniSettings(config_); }

 private:
  LaunchConfigRecord config_;
};

// The INI section as a map, read the way GetPrivateProfileStringA reads: cut to the buffer, with the
// length of what was stored. The keys asked for are noted.
struct FakeIni {
  std::map<std::string, std::string> values;
  std::vector<std::string> asked;
};

size_t ReadFake(void* context, const char* key, char* value, size_t capacity) {
  FakeIni* ini = static_cast<FakeIni*>(context);
  ini->asked.push_back(key);
  const auto found = ini->values.find(key);
  const std::string text = found != ini->values.end() ? found->second : "";
  const size_t stored = std::min(text.size(), capacity - 1);
  std::memcpy(value, text.data(), stored);
  value[stored] = '\0';
  return stored;
}

// The real scanner over a machine whose runtime has not been searched yet.
bool FakeAppDir(char* value, size_t capacity) {
  std::snprintf(value, capacity, "%s", "C:\\Apps\\Demo");
  return true;
}

char* FakeEnvironment(const char* name) {
  if (std::strcmp(name, "ONE") == 0) return CopyText("1");
  if (std::strcmp(name, "LOGS") == 0) return CopyText("\"D:\\logs\"");
  return nullptr;
}

char* ExpandBeforeTheSearch(const char* text) {
  VariableLookups lookups{};
  lookups.javaHome = "";
  lookups.appDir = FakeAppDir;
  lookups.environment = FakeEnvironment;
  return ExpandReferences(text, lookups);
}

char* ExpandOutOfMemory(const char*) { return nullptr; }

struct IniCase {
  const char* name;
  std::map<std::string, std::string> values;
  void (*before)(Settings&);  // changes to the default settings before the file is applied
  void (*after)(Settings&);   // the expected changes
};
void PrintTo(const IniCase& c, std::ostream* out) { *out << c.name; }

std::string CaseName(const ::testing::TestParamInfo<IniCase>& info) { return info.param.name; }

void Unchanged(Settings&) {}

class ApplyIniValuesTo : public ::testing::TestWithParam<IniCase> {};

TEST_P(ApplyIniValuesTo, ChangesTheSettingsByEachKeysRule) {
  const IniCase& c = GetParam();
  Settings before;
  c.before(before);
  Settings expected = before;
  c.after(expected);

  ConfigUnderTest config(before);
  FakeIni ini{c.values, {}};
  ApplyIniValues(config.get(), ReadFake, &ini, ExpandBeforeTheSearch);
  EXPECT_EQ(config.Read(), expected);
}

const std::string LongestValue = "-Dx=" + std::string(IniValueCapacity - 1 - 4, 'v');

INSTANTIATE_TEST_SUITE_P(
    Texts, ApplyIniValuesTo,
    ::testing::Values(
        IniCase{"NoValues", {}, Unchanged, Unchanged},
        IniCase{"EmptyValuesLeaveEverySetting",
                {{"JvmVersion", ""}, {"JvmPath", ""}, {"JvmOptions", ""}, {"JvmOptionsAppend", ""},
                 {"AppOptions", ""}, {"AppMutex", ""}, {"StaticOptions", ""}, {"StdOutFile", ""},
                 {"StdErrFile", ""}, {"StdOutFileAppend", ""}, {"StdErrFileAppend", ""}, {"ShowConsole", ""}},
                Unchanged, Unchanged},
        IniCase{"EachTextIsReplaced",
                {{"JvmVersion", "11"}, {"JvmPath", "C:\\jdk\\bin\\server\\jvm.dll"}, {"JvmOptions", "-Xss1m"},
                 {"AppOptions", "a b"}, {"AppMutex", "OnlyOne"}, {"StaticOptions", "--flag"}},
                Unchanged,
                [](Settings& s) {
                  s.JvmVersion = "11";
                  s.JvmPath = "C:\\jdk\\bin\\server\\jvm.dll";
                  s.JvmOptions = "-Xss1m";
                  s.AppOptions = "a b";
                  s.AppMutex = "OnlyOne";
                  s.StaticOptions = "--flag";
                }},
        IniCase{"AppendJoinsWithOneBlank", {{"JvmOptionsAppend", "-Xmx512m"}}, Unchanged,
                [](Settings& s) { s.JvmOptions = "-Da=1 -Xmx512m"; }},
        IniCase{"AppendToEmptyOptionsLeadsWithABlank", {{"JvmOptionsAppend", "-Xmx512m"}},
                [](Settings& s) { s.JvmOptions = ""; }, [](Settings& s) { s.JvmOptions = " -Xmx512m"; }},
        IniCase{"AppendFollowsTheReplacedOptions", {{"JvmOptions", "-Db=2"}, {"JvmOptionsAppend", "-Xmx1g"}},
                Unchanged, [](Settings& s) { s.JvmOptions = "-Db=2 -Xmx1g"; }},
        IniCase{"StreamFilesSwitchToFileMode", {{"StdOutFile", "out.txt"}, {"StdErrFile", "err.txt"}}, Unchanged,
                [](Settings& s) {
                  s.StdOutFile = "out.txt";
                  s.StdErrFile = "err.txt";
                  s.StdOutMode = StreamFile;
                  s.StdErrMode = StreamFile;
                }},
        IniCase{"LongestValueIsAppliedWhole", {{"JvmOptions", LongestValue}}, Unchanged,
                [](Settings& s) { s.JvmOptions = LongestValue; }},
        IniCase{"ValueThatFillsTheBufferIsRefusedNotCut", {{"JvmOptions", LongestValue + "w"}}, Unchanged,
                Unchanged},
        IniCase{"MuchLongerValueIsRefused",
                {{"StdOutFile", std::string(10000, 'f')}, {"JvmOptionsAppend", std::string(5000, 'a')}},
                Unchanged, Unchanged}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Flags, ApplyIniValuesTo,
    ::testing::Values(
        IniCase{"OneSetsTheAppendFlags", {{"StdOutFileAppend", "1"}, {"StdErrFileAppend", "1"}},
                [](Settings& s) { s.StdErrFileAppend = false; },
                [](Settings& s) {
                  s.StdOutFileAppend = true;
                  s.StdErrFileAppend = true;
                }},
        IniCase{"TrueClearsAnAppendFlag", {{"StdErrFileAppend", "true"}}, Unchanged,
                [](Settings& s) { s.StdErrFileAppend = false; }},
        IniCase{"YesAndZeroOneClearTheAppendFlags", {{"StdOutFileAppend", "01"}, {"StdErrFileAppend", "yes"}},
                [](Settings& s) { s.StdOutFileAppend = true; },
                [](Settings& s) {
                  s.StdOutFileAppend = false;
                  s.StdErrFileAppend = false;
                }},
        IniCase{"ConsoleWinsOverStreamFilesOfTheSameFile",
                {{"StdOutFile", "out.txt"}, {"StdErrFile", "err.txt"}, {"ShowConsole", "1"}}, Unchanged,
                [](Settings& s) {
                  s.StdOutFile = "out.txt";
                  s.StdErrFile = "err.txt";
                  s.StdOutMode = StreamNone;
                  s.StdErrMode = StreamNone;
                  s.ShowConsole = true;
                }},
        IniCase{"ZeroHidesTheConsoleAndKeepsTheModes", {{"ShowConsole", "0"}},
                [](Settings& s) { s.ShowConsole = true; }, [](Settings& s) { s.ShowConsole = false; }},
        IniCase{"OtherConsoleValuesChangeNothing", {{"ShowConsole", "true"}}, Unchanged, Unchanged},
        IniCase{"ZeroOneIsNoConsoleValue", {{"ShowConsole", "01"}, {"StdOutFile", "out.txt"}}, Unchanged,
                [](Settings& s) {
                  s.StdOutFile = "out.txt";
                  s.StdOutMode = StreamFile;
                }},
        IniCase{"AConsoleAlreadyShownStillWinsOverTheModes", {{"ShowConsole", "yes"}},
                [](Settings& s) { s.ShowConsole = true; },
                [](Settings& s) {
                  s.StdOutMode = StreamNone;
                  s.StdErrMode = StreamNone;
                }}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Variables, ApplyIniValuesTo,
    ::testing::Values(
        IniCase{"AppDirIsExpanded", {{"StdOutFile", "%APPDIR%\\logs\\out.log"}}, Unchanged,
                [](Settings& s) {
                  s.StdOutFile = "C:\\Apps\\Demo\\logs\\out.log";
                  s.StdOutMode = StreamFile;
                }},
        IniCase{"EnvironmentValueLosesItsQuotes", {{"StdErrFile", "%LOGS%\\err.log"}}, Unchanged,
                [](Settings& s) {
                  s.StdErrFile = "D:\\logs\\err.log";
                  s.StdErrMode = StreamFile;
                }},
        IniCase{"JavaHomeAmongTextIsStillEmpty", {{"JvmOptions", "-Djh=%JAVA_HOME%"}}, Unchanged,
                [](Settings& s) { s.JvmOptions = "-Djh="; }},
        IniCase{"JavaHomeAloneStaysForLater", {{"JvmPath", "%JAVA_HOME%"}}, Unchanged,
                [](Settings& s) { s.JvmPath = "%JAVA_HOME%"; }},
        IniCase{"FlagValueIsExpandedFirst", {{"StdOutFileAppend", "%ONE%"}, {"ShowConsole", "%ONE%"}}, Unchanged,
                [](Settings& s) {
                  s.StdOutFileAppend = true;
                  s.ShowConsole = true;
                  s.StdOutMode = StreamNone;
                }}),
    CaseName);

TEST(ApplyIniValues, AsksForEveryKeyOnceInAnOrderWhereLaterKeysSeeEarlierOnes) {
  Settings settings;
  ConfigUnderTest config(settings);
  FakeIni ini;
  ApplyIniValues(config.get(), ReadFake, &ini, ExpandBeforeTheSearch);
  std::vector<std::string> sorted = ini.asked;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<std::string>{"AppMutex", "AppOptions", "JvmOptions", "JvmOptionsAppend", "JvmPath",
                                              "JvmVersion", "ShowConsole", "StaticOptions", "StdErrFile",
                                              "StdErrFileAppend", "StdOutFile", "StdOutFileAppend"}));
  const auto position = [&](const char* key) { return std::find(ini.asked.begin(), ini.asked.end(), key); };
  EXPECT_LT(position("JvmOptions"), position("JvmOptionsAppend"));
  EXPECT_LT(position("StdOutFile"), position("ShowConsole"));
  EXPECT_LT(position("StdErrFile"), position("ShowConsole"));
}

TEST(ApplyIniValues, AValueThatCannotBeExpandedIsLeftOut) {
  Settings settings;
  ConfigUnderTest config(settings);
  FakeIni ini{{{"JvmOptions", "-Xmx1g"}, {"StdOutFile", "out.txt"}, {"StdOutFileAppend", "1"}, {"ShowConsole", "1"}},
              {}};
  ApplyIniValues(config.get(), ReadFake, &ini, ExpandOutOfMemory);
  EXPECT_EQ(config.Read(), settings);
}

TEST(ApplyIniValue, AppendsToAnOptionTextThatWasNeverSet) {
  LaunchConfigRecord config{};
  EXPECT_TRUE(ApplyIniValue(&config, "JvmOptionsAppend", "-Xmx1g", ExpandBeforeTheSearch));
  ASSERT_NE(config.JvmOptions, nullptr);
  EXPECT_STREQ(config.JvmOptions, " -Xmx1g");
  std::free(config.JvmOptions);
}

TEST(ApplyIniValue, UnknownKeysAndEmptyValuesAreNotApplied) {
  Settings settings;
  ConfigUnderTest config(settings);
  EXPECT_FALSE(ApplyIniValue(config.get(), "ClassPath", "other.jar", ExpandBeforeTheSearch));
  EXPECT_FALSE(ApplyIniValue(config.get(), "JvmOptions", "", ExpandBeforeTheSearch));
  EXPECT_EQ(config.Read(), settings);
}

}  // namespace
