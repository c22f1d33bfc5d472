// %NAME% references in options, paths and INI values, and the INI override of the settings.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "../shared/ini_settings.h"
#include "base/ini_values.h"
#include "base/text.h"
#include "base/variable_expansion.h"

namespace {

// The machine the lookups describe; `known` false makes every lookup fail.
struct FakeMachine {
  bool known = true;
  std::string appDir = "C:\\Apps\\Demo";
  std::map<std::string, std::string> environment = {{"HOME_DIR", "C:\\Users\\me"}, {"QUOTED", "\"C:\\Program Files\\x\""},
      {"LONE_QUOTE", "\""}, {"INNER_QUOTE", "a\"b"}, {"EMPTY", ""}, {"availram50", "env"}, {"java_home", "C:\\env\\jdk"},
      {"ONE", "1"}, {"LOGS", "\"D:\\logs\""}, {"LONG", std::string(5000, 'v')}};
} Machine;

bool Copy(const std::string& source, char* value, size_t capacity) {
  if (!Machine.known || source.size() >= capacity) return false;
  std::memcpy(value, source.c_str(), source.size() + 1);
  return true;
}
bool AppDir(char* value, size_t capacity) { return Copy(Machine.appDir, value, capacity); }
bool Date(char* value, size_t capacity) { return Copy("20240229", value, capacity); }
bool Time(char* value, size_t capacity) { return Copy("093007", value, capacity); }
bool Memory(uint64_t* available, uint64_t* total) {
  *available = 512ull << 20, *total = 8192ull << 20;
  return Machine.known;
}
char* Environment(const char* name) {
  const auto found = Machine.environment.find(name);
  return Machine.known && found != Machine.environment.end() ? CopyText(found->second.c_str()) : nullptr;
}

std::string Expand(const char* text, const char* javaHome = "C:\\jdk", bool known = true) {
  Machine = FakeMachine();
  Machine.known = known;
  HeapText result(ExpandReferences(text, {javaHome, AppDir, Date, Time, Memory, Environment}));
  return result ? result.get() : "<null>";
}

TEST(ExpandReferences, ReplacesEachReferenceByItsValueAndLeavesWhatNamesNothing) {
  const std::pair<const char*, const char*> cases[] = {
      {"%APPDIR%\\logs|%appdir%|%Date%.%tImE%", "C:\\Apps\\Demo\\logs|C:\\Apps\\Demo|20240229.093007"},
      {"%JAVA_HOME%\\bin %java_home%", "C:\\jdk\\bin C:\\env\\jdk"},
      {"[%QUOTED%][%LONE_QUOTE%][%INNER_QUOTE%]x%EMPTY%y", "[C:\\Program Files\\x][][a\"b]xy"},
      {"-Xmx%TOTALRAM50% %TOTALRAM1% %AVAILRAM10% %AVAILRAM%", "-Xmx4096m 81m 64m 512m"},
      {"%AVAILRAM0%|%AVAILRAM150%|%AVAILRAMx%|%AVAILRAM-5%|%AVAILRAM99999999999999999999%", "512m|512m|512m|512m|512m"},
      {"%AVAILRAM 50%/%TOTALRAM+25%/%TOTALRAM25abc%/%availram50%", "256m/2048m/2048m/env"},
      {"%UNSET%%ALSO_UNSET%", "%UNSET%%ALSO_UNSET%"},  // nothing results: the text stays
      {"x%UNSET%y", "xy"}, {"a%HOME_DIR%b%c", "aC:\\Users\\meb%c"},  // an unclosed % stays
      {"50%", "50%"}, {"%HOME_DIR%%", "C:\\Users\\me%"}, {"-Dx=%HOME_DIR", "-Dx=%HOME_DIR"},
      {"a%%b", "ab"}, {"%%", "%%"}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(Expand(text), expected) << text;
  EXPECT_EQ(Expand("%JAVA_HOME%", "\"C:\\jdk\""), "\"C:\\jdk\"");  // the runtime's home as it is
  EXPECT_EQ(Expand("-Djh=%JAVA_HOME%", ""), "-Djh=");                // no runtime found yet
  EXPECT_EQ(Expand("%JAVA_HOME%", ""), "%JAVA_HOME%");
  EXPECT_EQ(Expand("-Djh=%JAVA_HOME%;%JAVA_HOME%", nullptr), "-Djh=;");
  EXPECT_EQ(Expand("x%APPDIR%y|t=%TIME%|-Xmx%TOTALRAM50%|[%HOME_DIR%]", "", false), "xy|t=|-Xmx|[]");
  EXPECT_EQ(Expand("%DATE%", "", false), "%DATE%");
  HeapText none(ExpandReferences("[%APPDIR%%DATE%%TOTALRAM%%HOME_DIR%]", VariableLookups{}));
  EXPECT_STREQ(none.get(), "[]");
}

TEST(ExpandReferences, ValuesNamesAndTextsOfAnyLengthAreHandledWhole) {
  EXPECT_EQ(Expand("<%LONG%>"), "<" + std::string(5000, 'v') + ">");
  EXPECT_EQ(Expand(("x%" + std::string(10000, 'N') + "%y").c_str()), "xy");
  Machine.appDir = std::string(PathCapacity - 1, 'd');
  HeapText full(ExpandReferences("%APPDIR%", {"", AppDir, Date, Time, Memory, Environment}));
  EXPECT_EQ(std::string(full.get()), Machine.appDir);
}

// The INI section as GetPrivateProfileStringA reads it: cut to the buffer.
size_t ReadFake(void* context, const char* key, char* value, size_t capacity) {
  const auto& values = *static_cast<std::map<std::string, std::string>*>(context);
  const std::string text = values.count(key) ? values.at(key) : "";
  const size_t stored = std::min(text.size(), capacity - 1);
  std::memcpy(value, text.data(), stored);
  value[stored] = '\0';
  return stored;
}

char* ExpandBeforeTheSearch(const char* text) {
  Machine = FakeMachine();
  return ExpandReferences(text, {"", AppDir, nullptr, nullptr, nullptr, Environment});
}
char* OutOfMemory(const char*) { return nullptr; }

TEST(ApplyIniValues, ChangesTheSettingsByEachKeysRule) {
  using S = IniSettings;
  const std::string longest = "-Dx=" + std::string(IniValueCapacity - 5, 'v');
  const struct { std::map<std::string, std::string> values; std::function<void(S&)> before, after; } cases[] = {
      {{{"JvmVersion", ""}, {"JvmOptionsAppend", ""}, {"StdOutFile", ""}, {"ShowConsole", ""}}, {}, {}},
      {{{"JvmVersion", "11"}, {"JvmPath", "C:\\jvm.dll"}, {"AppOptions", "a b"}, {"AppMutex", "One"},
        {"StaticOptions", "--f"}, {"JvmOptions", "-Db=2"}, {"JvmOptionsAppend", "-Xmx1g"}}, {}, [](S& s) {
         s.JvmVersion = "11", s.JvmPath = "C:\\jvm.dll", s.AppOptions = "a b", s.AppMutex = "One";
         s.StaticOptions = "--f", s.JvmOptions = "-Db=2 -Xmx1g";
       }},
      {{{"JvmOptionsAppend", "-Xmx512m"}}, [](S& s) { s.JvmOptions = ""; }, [](S& s) { s.JvmOptions = " -Xmx512m"; }},
      {{{"StdOutFile", "%APPDIR%\\out.log"}, {"StdErrFile", "%LOGS%\\err.log"}}, {}, [](S& s) {
         s.StdOutFile = "C:\\Apps\\Demo\\out.log", s.StdErrFile = "D:\\logs\\err.log";
         s.StdOutMode = s.StdErrMode = StreamFile;
       }},
      {{{"JvmOptions", longest}}, {}, [&](S& s) { s.JvmOptions = longest; }},
      {{{"JvmOptions", longest + "w"}, {"StdOutFile", std::string(10000, 'f')}}, {}, {}},  // maybe cut: unused
      {{{"StdOutFileAppend", "1"}, {"StdErrFileAppend", "true"}}, {},
       [](S& s) { s.StdOutFileAppend = true, s.StdErrFileAppend = false; }},
      {{{"StdOutFile", "o"}, {"StdErrFile", "e"}, {"ShowConsole", "1"}}, {},  // the console wins over both logs
       [](S& s) { s.StdOutFile = "o", s.StdErrFile = "e", s.ShowConsole = true, s.StdOutMode = s.StdErrMode = StreamNone; }},
      {{{"JvmOptions", "-Djh=%JAVA_HOME%"}, {"JvmPath", "%JAVA_HOME%"}, {"StdErrFileAppend", "%ONE%"}}, {},
       [](S& s) { s.JvmOptions = "-Djh=", s.JvmPath = "%JAVA_HOME%", s.StdErrFileAppend = true; }},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    S before;
    if (cases[i].before) cases[i].before(before);
    S expected = before;
    if (cases[i].after) cases[i].after(expected);
    LaunchConfigRecord config{};
    StoreIniSettings(&config, before);
    auto values = cases[i].values;
    ApplyIniValues(&config, ReadFake, &values, ExpandBeforeTheSearch);
    EXPECT_EQ(ReadIniSettings(config), expected) << "case " << i;
    FreeIniSettings(&config);
  }
}

TEST(ApplyIniValues, AValueThatCannotBeExpandedOrHasNoKeyIsLeftOut) {
  LaunchConfigRecord config{};
  StoreIniSettings(&config, IniSettings());
  EXPECT_FALSE(ApplyIniValue(&config, "JvmOptions", "-Xmx1g", OutOfMemory) || ApplyIniValue(&config, "ShowConsole", "1", OutOfMemory) ||
               ApplyIniValue(&config, "ClassPath", "other.jar", ExpandBeforeTheSearch));
  EXPECT_EQ(ReadIniSettings(config), IniSettings());
  FreeIniSettings(&config);
  LaunchConfigRecord unset{};  // options never set: the appended text still leads with its blank
  EXPECT_TRUE(ApplyIniValue(&unset, "JvmOptionsAppend", "-Xmx1g", ExpandBeforeTheSearch));
  EXPECT_STREQ(unset.JvmOptions, " -Xmx1g");
  std::free(unset.JvmOptions);
}

}  // namespace
