// What a start fixes and reads before the runtime is searched (the executable's folder and name, the
// carried archives, the splash, a second instance's arguments, a service's texts) and the output ring.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "archives/archive_layout.h"
#include "base/start_paths.h"
#include "launcher/second_instance.h"
#include "launcher/second_start.h"
#include "service/service_command.h"
#include "service/service_options.h"
#include "ui/output_ring.h"
#include "ui/splash_rules.h"

namespace {

TEST(StartPaths, TheExecutablesFolderAndName) {
  const struct { const char *path, *directory, *appName; } cases[] = {
      {"D:\\Tools\\b.c.exe", "D:\\Tools", "b.c"}, {"C:\\Viewer.exe", "C:\\", "Viewer"},  // the root
      {"\\\\server\\share\\x.exe", "\\\\server\\share", "x"}, {"C:\\my.dir\\app", "C:\\my.dir", "app"}};
  for (const auto& c : cases) {
    char directory[PathCapacity];
    ExecutableDirectory(c.path, directory);
    EXPECT_STREQ(directory, c.directory);
    EXPECT_STREQ(HeapText(DeriveAppName(c.path)).get(), c.appName);
  }
}

const char* SystemTempFolder = "T:\\tmp\\";
bool SystemTemp(char* folder) { return SystemTempFolder != nullptr && std::strcpy(folder, SystemTempFolder); }

TEST(StartPaths, TheTemporaryFolderFollowsTheModeAndTakesOnlyAPlainHexName) {
  using N = TempDirNaming;
  const std::string longest(PathCapacity - 8, 'A');  // with "T:\tmp\" exactly 259 characters
  const struct { int mode; std::string stored; const char* systemTemp; N naming; std::string tempDir; } cases[] = {
      {0, "..", "T:\\tmp\\", N::Named, "."},  // the program's own folder needs no name
      {1, "A1B2", nullptr, N::Named, ".\\A1B2"},  // and mode 1 never asks for the system's
      {2, "deadBEEF7", "T:\\tmp\\", N::Named, "T:\\tmp\\deadBEEF7"}, {-1, "A1B2", "T:\\tmp\\", N::Named, "T:\\tmp\\A1B2"},
      {1, "..\\..\\Windows", "T:\\tmp\\", N::NotHex, ""},  // only an edited launcher stores these
      {2, "", "T:\\tmp\\", N::NotHex, ""}, {2, "AB.CD", "T:\\tmp\\", N::NotHex, ""}, {2, "A1B2", nullptr, N::NoSystemFolder, ""},
      {2, longest, "T:\\tmp\\", N::Named, "T:\\tmp\\" + longest}, {2, longest + "A", "T:\\tmp\\", N::TooLong, ""}};
  for (const auto& c : cases) {
    SystemTempFolder = c.systemTemp;
    char out[PathCapacity] = "stale";
    EXPECT_EQ(ComposeTempDir(c.mode, c.stored.c_str(), SystemTemp, out), c.naming) << c.stored;
    EXPECT_EQ(std::string(out), c.tempDir);
  }
}

TEST(Splash, ShowsOnlyWhenSomethingClosesIt) {
  const struct { bool untilWindow; int32_t seconds; bool shown; uint32_t limit; } cases[] = {
      {false, 0, false, 0}, {true, 0, true, 0}, {false, 3, true, 3000}, {false, -1, false, 0}, {true, -5, true, 0},
      {false, 2147483, true, 2147483000u}, {false, INT32_MAX, true, 2147483000u}};  // the longest a timer takes
  for (const auto& c : cases) {
    EXPECT_EQ(SplashWanted(c.untilWindow, c.seconds), c.shown) << c.seconds;
    EXPECT_EQ(SplashLimitMilliseconds(c.seconds), c.limit) << c.seconds;
  }
}

TEST(SecondInstance, GetsTheSplitLeadingTextThenItsArgumentsUnchanged) {
  char* args[] = {const_cast<char*>("C:\\My Files\\a.txt"), const_cast<char*>("say \"hi\"\\")};
  int total = -1;
  char** combined = SecondInstanceArguments("-a \"b c\" d\\\"e", 2, args, &total);
  EXPECT_EQ(std::vector<std::string>(combined, combined + total),
            (std::vector<std::string>{"-a", "b c", "d\"e", "C:\\My Files\\a.txt", "say \"hi\"\\"}));
  FreeArgumentArray(total, combined);
}

TEST(ServiceTexts, QuoteWhatTheServiceGetsBackAndRefuseWhatWouldSplitOrNotFit) {
  using R = ServiceTextResult;
  const std::string prefix = "\"C:\\Demo.exe\" -s", fits(271 - prefix.size() - 12, 'd');
  const struct { bool withSettings, manual; std::string name, description; R result; std::string line; } cases[] = {
      {false, false, "De\"mo", "a\\", R::Built, prefix},  // not on the line: harmless
      {true, true, "Demo", "", R::Built, prefix + " \"Demo\" \"\" 0"}, {true, false, "De\"mo", "x", R::Unsafe, ""},
      {true, false, "Demo", "C:\\", R::Unsafe, ""}, {true, false, "Demo", fits + "d", R::TooLong, ""},
      {true, false, "Demo", fits, R::Built, prefix + " \"Demo\" \"" + fits + "\" 1"}};
  char line[ServiceTextCapacity];
  for (const auto& c : cases) {
    std::memset(line, '#', sizeof(line));
    const char *name = c.name.c_str(), *description = c.description.c_str();
    EXPECT_EQ(BuildServiceCommandLine(line, "C:\\Demo.exe", "-s", c.withSettings, name, description, c.manual), c.result);
    EXPECT_EQ(std::string(line), c.line);
  }
  EXPECT_TRUE(BuildServiceKeyPath(line, "S\\", std::string(269, 'n').c_str()));
  EXPECT_TRUE(!BuildServiceKeyPath(line, "S\\", std::string(270, 'n').c_str()) && line[0] == '\0');
  size_t length = 0;
  bool failed = true;
  HeapText list(BuildDependencyList(";a;;b;", &length, &failed));
  EXPECT_EQ(std::string(list.get(), length) + (failed ? "failed" : ""), std::string("a\0b\0\0", 5));
}

TEST(ServiceRecovery, TakesWholeMillisecondsSeparatedBySemicolonsWithinTheirBounds) {
  const std::string no = "must be whole milliseconds separated by \";\", such as \"5000;30000;60000\"";
  const struct { std::string text, problem; std::vector<uint32_t> delays; } cases[] = {
      {"", "", {}}, {"5000;30000;60000", "", {5000, 30000, 60000}}, {"0", "", {0}}, {"4294967295", "", {4294967295u}},
      {"4294967296", "holds a delay over 4294967295 milliseconds", {}}, {"1;2;3;4;5;6;7;8", "", {1, 2, 3, 4, 5, 6, 7, 8}},
      {"1;2;3;4;5;6;7;8;9", "holds more than 8 delays", {}}, {"5000;", no, {}}, {";5000", no, {}}, {"5;;1", no, {}},
      {"5 000", no, {}}, {"-1", no, {}}, {"5s", no, {}}};
  for (const auto& c : cases) {
    RestartDelays delays{{}, 99};
    const char* problem = ParseRestartDelays(c.text.c_str(), &delays);
    EXPECT_EQ(std::string(problem != nullptr ? problem : "") + "|" + ::testing::PrintToString(std::vector<uint32_t>(delays.milliseconds, delays.milliseconds + delays.count)),
              c.problem + "|" + ::testing::PrintToString(c.delays)) << c.text;
  }
}

TEST(ServiceAccount, AcceptsOnlyAccountsThatCouldBeRightAndAPasswordOnlyForAUser) {
  using K = AccountKind;
  const std::string form = "an account is \".\\name\", \"DOMAIN\\name\", \"NT AUTHORITY\\LocalService\" or \"NT AUTHORITY\\NetworkService\"";
  const struct { const char* account; bool password; K kind; std::string problem; } cases[] = {
      {"", false, K::LocalSystem, ""}, {"", true, K::LocalSystem, "a password needs a user account"},
      {"nt authority\\localservice", false, K::BuiltIn, ""}, {"NT AUTHORITY\\NetworkService", false, K::BuiltIn, ""},
      {"NT AUTHORITY\\LocalService", true, K::BuiltIn, "a built-in account takes no password"},
      {"NT AUTHORITY\\System", false, K::LocalSystem, "NT AUTHORITY offers only LocalService and NetworkService (LocalSystem is the empty account)"},
      {".\\svc", true, K::User, ""}, {"CORP\\svc", false, K::User, ""}, {"CORP\\s\"vc", true, K::LocalSystem, "an account may not hold a double quote"},
      {"svc", true, K::LocalSystem, form}, {"\\svc", true, K::LocalSystem, form}, {"CORP\\", true, K::LocalSystem, form}, {"A\\B\\c", true, K::LocalSystem, form}};
  for (const auto& c : cases) {
    AccountKind kind = K::User;
    const char* problem = CheckServiceAccount(c.account, c.password, &kind);
    EXPECT_EQ(std::string(problem != nullptr ? problem : "") + "|" + std::to_string(int(problem ? c.kind : kind)), c.problem + "|" + std::to_string(int(c.kind))) << c.account;
  }
}

// Only a whole resource is used, and only bare file names are written into the temporary folder.
TEST(ArchiveNames, OnlyBareFileNamesInsideTheFolder) {  // the builder's tests hold the full table of names
  using P = ArchiveNameProblem;
  const std::pair<std::string, P> cases[] = {{"lib-1.2.zip", P::None}, {"nul .jar", P::Device}, {"..", P::DotName},
      {"..\\evil.jar", P::NotBare}, {"C:a.jar", P::NotBare}, {"tab\there.jar", P::ControlCharacter}, {std::string(201, 'a'), P::TooLong}};
  for (const auto& [name, problem] : cases) EXPECT_EQ(ClassifyArchiveName(name.c_str()), problem) << name;
}

// A resource as the builder writes it: a count, then each name, time and size, and the data.
std::string Resource(int32_t count, const std::vector<std::pair<std::string, uint32_t>>& entries, size_t data) {
  std::string out(reinterpret_cast<const char*>(&count), 4);
  for (const auto& [name, size] : entries) {
    const uint32_t fields[] = {1, 2, size};
    out += name + '\0' + std::string(reinterpret_cast<const char*>(fields), 12) + std::string(data, 'D');
  }
  return out;
}

bool CollectName(const ArchiveEntryView& entry, void* names) {
  return static_cast<std::vector<std::string>*>(names)->emplace_back(entry.name), true;
}

TEST(ArchiveLayout, IsUsedWholeOrNotAtAll) {
  using R = ArchiveLayoutResult;
  const struct { std::string bytes; R result; std::vector<std::string> names; } cases[] = {
      {Resource(2, {{"a.jar", 3}, {"b.zip", 3}}, 3), R::Complete, {"a.jar", "b.zip"}},
      {Resource(1, {{"a.jar", 3}}, 3) + "junk", R::Complete, {"a.jar"}}, {std::string("\x01\x00", 2), R::Empty, {}},
      {Resource(0, {{"a.jar", 3}}, 3), R::Empty, {}}, {Resource(-3, {{"a.jar", 3}}, 3), R::Empty, {}},
      {Resource(3, {{"a.jar", 3}, {"b.zip", 3}}, 3), R::Damaged, {}},  // the first two are not used either
      {Resource(1, {}, 0) + "a.jar", R::Damaged, {}}, {Resource(1, {{"a.jar", 0}}, 0).substr(0, 20), R::Damaged, {}},
      {Resource(1, {{"a.jar", 4}}, 3), R::Damaged, {}}, {Resource(1, {{"a.jar", 0xFFFFFFFFu}}, 3), R::Damaged, {}}};
  for (const auto& c : cases) {
    // Copied to a buffer of exactly their size, so that the sanitizers see any read past the end.
    const std::vector<uint8_t> exact(c.bytes.begin(), c.bytes.end());
    std::vector<std::string> names;
    int32_t count = -7;
    EXPECT_EQ(ReadArchiveLayout(exact.data(), exact.size(), &count, CollectName, &names), c.result) << c.bytes.size();
    EXPECT_EQ(names, c.names);
  }
}

// The output kept for error reports: whole lines, the newest last, never written past.
TEST(OutputRing, DropsWholeLinesFromTheFrontToMakeRoom) {
  const struct { size_t stored; std::vector<size_t> lineEnds; size_t added, dropped; } cases[] = {
      {8000, {10}, 191, 0}, {8150, {50, 120, 4000}, 100, 121}, {8150, {99}, 100, 100}, {8150, {10, 98}, 100, 9999},
      {8100, {3}, 92, 9999}, {8100, {}, 91, 0}, {4, {3}, 20000, 9999}};  // more than the ring holds is cut, never written past
  for (const auto& c : cases) {
    std::string before(c.stored, 'x');
    for (size_t at : c.lineEnds) before[at] = '\n';
    OutputRingRecord ring{};
    AppendToRing(&ring, before.data(), before.size());
    const std::string added(c.added, '+');
    AppendToRing(&ring, added.data(), added.size());
    const std::string kept = c.dropped > c.stored ? "" : before.substr(c.dropped);
    EXPECT_TRUE(ring.text == (kept + added).substr(0, OutputRingCapacity - 1) && ring.fill == std::strlen(ring.text)) << c.stored;
  }
}

}  // namespace

// What a second start sends is read back exactly; anything but a whole message is refused, whatever
// a stranger on the pipe sends.
TEST(SecondStartMessage, ReadsBackExactlyWhatWasSentAndRefusesAnythingElse) {
  char* args[] = {const_cast<char*>("two words"), const_cast<char*>(""), const_cast<char*>("Zo\xC3\xAB")};
  std::string sent(SecondStartMessageCapacity, 'x');
  sent.resize(ComposeSecondStartMessage("C:\\docs", 3, args, sent.data(), sent.size()));
  ASSERT_EQ(sent, std::string("CVS1C:\\docs\0two words\0\0Zo\xC3\xAB\0", 28));
  SecondStartRequest request;
  ASSERT_TRUE(ReadSecondStartMessage(sent.data(), sent.size(), &request));
  EXPECT_EQ(std::string(request.folder.get()) + "|" + std::to_string(request.args.count) + "|" + request.args.items[0] +
                "|" + request.args.items[1] + "|" + request.args.items[2], "C:\\docs|3|two words||Zo\xC3\xAB");
  EXPECT_EQ(ComposeSecondStartMessage("C:\\docs", 3, args, sent.data(), 27), 0u) << "one byte short";
  const std::string longest = "CVS1" + std::string(SecondStartMessageCapacity - 5, 'a') + '\0';
  const std::pair<std::string, bool> messages[] = {
      {std::string("CVS1\0", 5), true}, {longest, true}, {longest + '\0', false}, {"CVS1", false},
      {std::string("CVS1C:\0arg", 10), false}, {std::string("CVS2C:\0", 7), false}, {std::string("CV\0", 3), false}};
  for (const auto& [message, whole] : messages) {
    SecondStartRequest read;
    EXPECT_EQ(ReadSecondStartMessage(message.data(), message.size(), &read), whole) << message.size();
  }
}

TEST(SecondStartPipe, IsNamedByMutexUserAndSessionAndOnlyWhereItFits) {
  char name[256], other[256];
  ASSERT_TRUE(SecondStartPipeName("corvane/test/App", 1, "S-1-5-21-1000", name, sizeof(name)));
  EXPECT_EQ(std::string(name).substr(0, 33), "\\\\.\\pipe\\Corvane-1-S-1-5-21-1000-");
  EXPECT_EQ(std::strlen(name), 49u);
  for (const auto& [mutex, session, sid] : {std::tuple{"corvane/test/Other", 1, "S-1-5-21-1000"},
                                            std::tuple{"corvane/test/App", 2, "S-1-5-21-1000"},
                                            std::tuple{"corvane/test/App", 1, "S-1-5-21-1001"}}) {
    ASSERT_TRUE(SecondStartPipeName(mutex, session, sid, other, sizeof(other)));
    EXPECT_STRNE(name, other);
  }
  EXPECT_FALSE(SecondStartPipeName("corvane/test/App", 1, "S-1-5-21-1000", other, 49));
  EXPECT_TRUE(SecondStartPipeName("corvane/test/App", 1, "S-1-5-21-1000", other, 50));
  for (const auto& [method, good] : {std::pair{"onSecondInstance", true}, std::pair{"", true}, std::pair{"_$a1", true},
                                     std::pair{"1open", false}, std::pair{"open file", false}, std::pair{"open()", false}}) {
    EXPECT_EQ(CheckSecondStartMethod(method) == nullptr, good) << method;
  }
}
