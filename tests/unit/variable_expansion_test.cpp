#include "base/variable_expansion.h"

#include <gtest/gtest.h>

#include <barrier>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "base/text.h"

namespace {

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

constexpr uint64_t MiB = 1024ull * 1024;
constexpr uint64_t GiB = 1024 * MiB;

// The machine the lookups below describe; each test sets it up.
struct FakeMachine {
  bool known = true;  // false: every lookup fails
  std::string appDir = "C:\\Apps\\Demo";
  std::string date = "20240229";
  std::string time = "093007";
  uint64_t available = 512 * MiB;
  uint64_t total = 8 * GiB;
  std::map<std::string, std::string> environment = {
      {"HOME_DIR", "C:\\Users\\me"},
      {"QUOTED", "\"C:\\Program Files\\x\""},
      {"LONE_QUOTE", "\""},
      {"TWO_QUOTES", "\"\""},
      {"LEADING_QUOTE", "\"abc"},
      {"TRAILING_QUOTE", "abc\""},
      {"INNER_QUOTE", "a\"b"},
      {"EMPTY", ""},
      {"availram50", "from the environment"},
      {"java_home", "C:\\env\\jdk"},
  };
};

FakeMachine Machine;

bool CopyInto(const std::string& source, char* value, size_t capacity) {
  if (!Machine.known || source.size() >= capacity) return false;
  std::memcpy(value, source.c_str(), source.size() + 1);
  return true;
}

bool FakeAppDir(char* value, size_t capacity) { return CopyInto(Machine.appDir, value, capacity); }
bool FakeDate(char* value, size_t capacity) { return CopyInto(Machine.date, value, capacity); }
bool FakeTime(char* value, size_t capacity) { return CopyInto(Machine.time, value, capacity); }

bool FakeMemory(uint64_t* available, uint64_t* total) {
  if (!Machine.known) return false;
  *available = Machine.available;
  *total = Machine.total;
  return true;
}

char* FakeEnvironment(const char* name) {
  const auto found = Machine.environment.find(name);
  if (!Machine.known || found == Machine.environment.end()) return nullptr;
  return CopyText(found->second.c_str());
}

const char JavaHome[] = "C:\\Program Files\\Java\\jdk-17";

VariableLookups FakeLookups(const char* javaHome = JavaHome) {
  return VariableLookups{javaHome, FakeAppDir, FakeDate, FakeTime, FakeMemory, FakeEnvironment};
}

std::string Expand(const char* text, const VariableLookups& lookups) {
  HeapText result(ExpandReferences(text, lookups));
  EXPECT_NE(result, nullptr);
  return result ? result.get() : "<null>";
}

class WithFakeMachine {
 protected:
  WithFakeMachine() { Machine = FakeMachine(); }
};

// ---------------------------------------------------------------------------------------------
// The scanner over a machine that knows every value

struct ExpandCase {
  const char* name;
  const char* text;
  const char* expected;
};
void PrintTo(const ExpandCase& c, std::ostream* out) { *out << c.name; }

class ExpandReferencesOnAKnownMachine : public ::testing::TestWithParam<ExpandCase>, WithFakeMachine {};

TEST_P(ExpandReferencesOnAKnownMachine, ReplacesEachReferenceByItsValue) {
  const ExpandCase& c = GetParam();
  EXPECT_EQ(Expand(c.text, FakeLookups()), c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Names, ExpandReferencesOnAKnownMachine,
    ::testing::Values(
        ExpandCase{"AppDirInAPath", "%APPDIR%\\logs\\out.log", "C:\\Apps\\Demo\\logs\\out.log"},
        ExpandCase{"AppDirInAnyCase", "%appdir%|%AppDir%", "C:\\Apps\\Demo|C:\\Apps\\Demo"},
        ExpandCase{"DateInAnyCase", "%Date%-%DATE%-%date%", "20240229-20240229-20240229"},
        ExpandCase{"TimeInAnyCase", "%TIME%.%tImE%", "093007.093007"},
        ExpandCase{"JavaHomeExactCase", "%JAVA_HOME%\\bin", "C:\\Program Files\\Java\\jdk-17\\bin"},
        ExpandCase{"JavaHomeInLowerCaseIsAnEnvironmentVariable", "%java_home%", "C:\\env\\jdk"},
        ExpandCase{"EnvironmentVariable", "-Duser.home=%HOME_DIR%", "-Duser.home=C:\\Users\\me"},
        ExpandCase{"AdjacentReferences", "%APPDIR%%DATE%", "C:\\Apps\\Demo20240229"},
        ExpandCase{"QuotedValueLosesItsQuotes", "[%QUOTED%]", "[C:\\Program Files\\x]"},
        ExpandCase{"LoneQuoteInsertsNothing", "[%LONE_QUOTE%]", "[]"},
        ExpandCase{"TwoQuotesInsertNothing", "[%TWO_QUOTES%]", "[]"},
        ExpandCase{"OnlyALeadingQuote", "[%LEADING_QUOTE%]", "[abc]"},
        ExpandCase{"OnlyATrailingQuote", "[%TRAILING_QUOTE%]", "[abc]"},
        ExpandCase{"InnerQuoteStays", "[%INNER_QUOTE%]", "[a\"b]"},
        ExpandCase{"EmptyVariableInsertsNothing", "x%EMPTY%y", "xy"}),
    CaseName<ExpandCase>);

INSTANTIATE_TEST_SUITE_P(
    Memory, ExpandReferencesOnAKnownMachine,
    ::testing::Values(
        ExpandCase{"HalfOfEightGiB", "-Xmx%TOTALRAM50%", "-Xmx4096m"},
        ExpandCase{"AllOfTheTotal", "%TOTALRAM%", "8192m"},
        ExpandCase{"OnePercentIsTruncated", "%TOTALRAM1%", "81m"},  // 81.92
        ExpandCase{"TenPercentOf512MiBIsRaisedTo64", "%AVAILRAM10%", "64m"},
        ExpandCase{"NoPercentageIsAll", "%AVAILRAM%", "512m"},
        ExpandCase{"ZeroPercentIsAll", "%AVAILRAM0%", "512m"},
        ExpandCase{"MoreThanAHundredIsAll", "%AVAILRAM150%", "512m"},
        ExpandCase{"NotANumberIsAll", "%AVAILRAMx%", "512m"},
        ExpandCase{"NegativeIsAll", "%AVAILRAM-5%", "512m"},
        ExpandCase{"LeadingBlankAndSign", "%AVAILRAM 50%/%TOTALRAM+25%", "256m/2048m"},
        ExpandCase{"DigitsThenOtherCharacters", "%TOTALRAM25abc%", "2048m"},
        ExpandCase{"PrefixInLowerCaseIsAnEnvironmentVariable", "%availram50%", "from the environment"}),
    CaseName<ExpandCase>);

INSTANTIATE_TEST_SUITE_P(
    Text, ExpandReferencesOnAKnownMachine,
    ::testing::Values(
        ExpandCase{"NoPercentSigns", "-Dname=value C:\\dir", "-Dname=value C:\\dir"},
        ExpandCase{"Empty", "", ""},
        ExpandCase{"UnsetAloneComesBackUnchanged", "%UNSET%", "%UNSET%"},
        ExpandCase{"UnsetReferencesAloneComeBackUnchanged", "%UNSET%%ALSO_UNSET%", "%UNSET%%ALSO_UNSET%"},
        ExpandCase{"UnsetAmongTextVanishes", "x%UNSET%y", "xy"},
        ExpandCase{"TrailingPercentStays", "50%", "50%"},
        ExpandCase{"UnclosedReferenceStays", "a%b", "a%b"},
        ExpandCase{"LonePercent", "%", "%"},
        ExpandCase{"UnclosedAfterAReference", "a%HOME_DIR%b%c", "aC:\\Users\\meb%c"},
        ExpandCase{"PercentRightAfterAReference", "%HOME_DIR%%", "C:\\Users\\me%"},
        ExpandCase{"UnclosedKnownNameStays", "-Dx=%HOME_DIR", "-Dx=%HOME_DIR"},
        ExpandCase{"TwoPercentSignsInTextAreRemoved", "a%%b", "ab"},
        ExpandCase{"TwoPercentSignsAtTheEndAreRemoved", "100%%", "100"},
        ExpandCase{"TwoPercentSignsAloneComeBackUnchanged", "%%", "%%"}),
    CaseName<ExpandCase>);

TEST(ExpandReferences, NullTextGivesAnEmptyText) {
  Machine = FakeMachine();
  EXPECT_EQ(Expand(nullptr, FakeLookups()), "");
}

TEST(ExpandReferences, LeavesTheCallersTextAlone) {
  Machine = FakeMachine();
  char text[] = "a%APPDIR%b%DATE";
  EXPECT_EQ(Expand(text, FakeLookups()), "aC:\\Apps\\Demob%DATE");
  EXPECT_STREQ(text, "a%APPDIR%b%DATE");
}

// ---------------------------------------------------------------------------------------------
// JAVA_HOME is taken as it is, and is empty until a runtime was found

struct JavaHomeCase {
  const char* name;
  const char* javaHome;
  const char* text;
  const char* expected;
};
void PrintTo(const JavaHomeCase& c, std::ostream* out) { *out << c.name; }

class ExpandJavaHome : public ::testing::TestWithParam<JavaHomeCase>, WithFakeMachine {};

TEST_P(ExpandJavaHome, UsesTheRuntimeHomeUnchanged) {
  const JavaHomeCase& c = GetParam();
  EXPECT_EQ(Expand(c.text, FakeLookups(c.javaHome)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExpandJavaHome,
    ::testing::Values(JavaHomeCase{"QuotesAreKept", "\"C:\\jdk\"", "%JAVA_HOME%", "\"C:\\jdk\""},
                      JavaHomeCase{"NotFoundYetAmongText", "", "-Djh=%JAVA_HOME%", "-Djh="},
                      JavaHomeCase{"NotFoundYetAlone", "", "%JAVA_HOME%", "%JAVA_HOME%"},
                      JavaHomeCase{"NoHomeAtAll", nullptr, "-Djh=%JAVA_HOME%;%JAVA_HOME%", "-Djh=;"}),
    CaseName<JavaHomeCase>);

// ---------------------------------------------------------------------------------------------
// Values that cannot be produced expand to nothing

struct UnknownCase {
  const char* name;
  bool withLookups;  // false: no lookups given at all
  const char* text;
  const char* expected;
};
void PrintTo(const UnknownCase& c, std::ostream* out) { *out << c.name; }

class ExpandOnAMachineThatKnowsNothing : public ::testing::TestWithParam<UnknownCase>, WithFakeMachine {};

TEST_P(ExpandOnAMachineThatKnowsNothing, DropsTheReferences) {
  const UnknownCase& c = GetParam();
  Machine.known = false;
  const VariableLookups lookups = c.withLookups ? FakeLookups() : VariableLookups{};
  EXPECT_EQ(Expand(c.text, lookups), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExpandOnAMachineThatKnowsNothing,
    ::testing::Values(UnknownCase{"AppDirAmongText", true, "x%APPDIR%y", "xy"},
                      UnknownCase{"DateAlone", true, "%DATE%", "%DATE%"},
                      UnknownCase{"TimeAmongText", true, "t=%TIME%", "t="},
                      UnknownCase{"Memory", true, "-Xmx%TOTALRAM50% -Xms%AVAILRAM%", "-Xmx -Xms"},
                      UnknownCase{"Environment", true, "[%HOME_DIR%]", "[]"},
                      UnknownCase{"NoLookupsGiven", false, "[%APPDIR%%DATE%%TIME%%TOTALRAM%%HOME_DIR%]", "[]"},
                      UnknownCase{"NoLookupsGivenAlone", false, "%JAVA_HOME%%APPDIR%", "%JAVA_HOME%%APPDIR%"}),
    CaseName<UnknownCase>);

// ---------------------------------------------------------------------------------------------
// Lengths

TEST(ExpandReferences, ValuesAndNamesLongerThanAPathAreHandledWhole) {
  Machine = FakeMachine();
  const std::string longValue(5000, 'v');
  const std::string longName(10000, 'N');
  Machine.environment["LONG"] = longValue;
  EXPECT_EQ(Expand("<%LONG%>", FakeLookups()), "<" + longValue + ">");
  EXPECT_EQ(Expand(("x%" + longName + "%y").c_str(), FakeLookups()), "xy");
  const std::string longText(100000, 't');
  EXPECT_EQ(Expand((longText + "%APPDIR%").c_str(), FakeLookups()), longText + "C:\\Apps\\Demo");
}

TEST(ExpandReferences, ADirectoryOfFullPathLengthFitsTheScratchSpace) {
  Machine = FakeMachine();
  Machine.appDir = std::string(PathCapacity - 1, 'd');
  EXPECT_EQ(Expand("%APPDIR%", FakeLookups()), Machine.appDir);
}

bool UnterminatedValue(char* value, size_t capacity) {
  std::memset(value, 'u', capacity);
  return true;
}

TEST(ExpandReferences, AValueWithoutTerminatorIsCutAtTheScratchSpace) {
  VariableLookups lookups{};
  lookups.appDir = UnterminatedValue;
  EXPECT_EQ(Expand("%APPDIR%", lookups), std::string(PathCapacity - 1, 'u'));
}

TEST(ExpandReferences, HugeMemorySaturatesInsteadOfWrapping) {
  Machine = FakeMachine();
  Machine.total = UINT64_MAX;
  Machine.available = 4096 * GiB * 1024;  // 4 PiB: 2^32 MiB, which would wrap to 0
  EXPECT_EQ(Expand("%TOTALRAM%|%AVAILRAM%|%AVAILRAM50%", FakeLookups()), "2147483647m|2147483647m|2147483647m");
}

// ---------------------------------------------------------------------------------------------
// Two expansions at once. Each lookup writes its value and then waits until the other thread's
// lookup has written too: were the values produced in one shared place, one expansion would
// deterministically read the other's value.

std::barrier<>* Rendezvous = nullptr;

bool AppDirThenWait(char* value, size_t capacity) {
  std::snprintf(value, capacity, "%s", "C:\\first");
  Rendezvous->arrive_and_wait();
  return true;
}

bool DateThenWait(char* value, size_t capacity) {
  std::snprintf(value, capacity, "%s", "20991231");
  Rendezvous->arrive_and_wait();
  return true;
}

TEST(ExpandReferences, TwoThreadsExpandingAtOnceKeepTheirOwnValues) {
  VariableLookups lookups{};
  lookups.appDir = AppDirThenWait;
  lookups.date = DateThenWait;
  for (int round = 0; round < 20; ++round) {
    std::barrier<> rendezvous(2);
    Rendezvous = &rendezvous;
    std::string first, second;
    std::thread one([&] { first = Expand("dir=%APPDIR%", lookups); });
    std::thread two([&] { second = Expand("date=%DATE%", lookups); });
    one.join();
    two.join();
    EXPECT_EQ(first, "dir=C:\\first");
    EXPECT_EQ(second, "date=20991231");
  }
  Rendezvous = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Memory arithmetic

struct PercentageCase {
  const char* name;
  const char* suffix;
  int expected;
};
void PrintTo(const PercentageCase& c, std::ostream* out) { *out << c.name; }

class MemoryPercentageOf : public ::testing::TestWithParam<PercentageCase> {};

TEST_P(MemoryPercentageOf, ReadsOneToAHundredAndOtherwiseAll) {
  const PercentageCase& c = GetParam();
  EXPECT_EQ(MemoryPercentage(c.suffix), c.expected) << (c.suffix ? c.suffix : "(null)");
}

INSTANTIATE_TEST_SUITE_P(Cases, MemoryPercentageOf,
                         ::testing::Values(PercentageCase{"None", "", 100},
                                           PercentageCase{"Null", nullptr, 100},
                                           PercentageCase{"Half", "50", 50},
                                           PercentageCase{"Smallest", "1", 1},
                                           PercentageCase{"Largest", "100", 100},
                                           PercentageCase{"Zero", "0", 100},
                                           PercentageCase{"JustAboveAHundred", "101", 100},
                                           PercentageCase{"AHundredAndFifty", "150", 100},
                                           PercentageCase{"Letter", "x", 100},
                                           PercentageCase{"Negative", "-7", 100},
                                           PercentageCase{"PlusSign", "+7", 7},
                                           PercentageCase{"LeadingBlanks", "  7", 7},
                                           PercentageCase{"DigitsThenText", "25x", 25},
                                           PercentageCase{"TooManyDigitsForAnInt", "99999999999999999999", 100},
                                           PercentageCase{"WrapsToASmallNumberInOtherReaders", "4294967346", 100}),
                         CaseName<PercentageCase>);

struct MegabytesCase {
  const char* name;
  int percentage;
  uint64_t bytes;
  int32_t expected;
};
void PrintTo(const MegabytesCase& c, std::ostream* out) { *out << c.name; }

class MemoryMegabytesOf : public ::testing::TestWithParam<MegabytesCase> {};

TEST_P(MemoryMegabytesOf, TakesTheShareInMiB) {
  const MegabytesCase& c = GetParam();
  EXPECT_EQ(MemoryMegabytes(c.percentage, c.bytes), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MemoryMegabytesOf,
    ::testing::Values(MegabytesCase{"HalfOfEightGiB", 50, 8 * GiB, 4096},
                      MegabytesCase{"TenthOf512MiBIsRaisedTo64", 10, 512 * MiB, 64},
                      MegabytesCase{"NoMemory", 100, 0, 64},
                      MegabytesCase{"Below64", 100, 63 * MiB, 64},
                      MegabytesCase{"Exactly64", 100, 64 * MiB, 64},
                      MegabytesCase{"Above64", 100, 65 * MiB, 65},
                      MegabytesCase{"PartialMiBIsTruncated", 100, 100 * MiB + MiB - 1, 100},
                      MegabytesCase{"MoreThan32BitsOfBytes", 100, 4096 * GiB, 4194304},
                      MegabytesCase{"OneBelowTheLargest", 100, (uint64_t{1} << 51) - 2 * MiB, INT32_MAX - 1},
                      MegabytesCase{"LargestThatFits", 100, (uint64_t{1} << 51) - MiB, INT32_MAX},
                      MegabytesCase{"FirstThatDoesNotFit", 100, uint64_t{1} << 51, INT32_MAX},
                      MegabytesCase{"WouldWrapToZero", 100, uint64_t{1} << 52, INT32_MAX},
                      MegabytesCase{"HalfOfTooMuchStillTooMuch", 50, uint64_t{1} << 53, INT32_MAX},
                      MegabytesCase{"LargestByteCount", 100, UINT64_MAX, INT32_MAX},
                      MegabytesCase{"OnePercentOfTheLargest", 1, UINT64_MAX, INT32_MAX}),
    CaseName<MegabytesCase>);

}  // namespace
