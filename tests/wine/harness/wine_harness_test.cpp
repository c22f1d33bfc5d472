// The harness itself, under Wine, against cvsmoke.exe: what it reads of dialogs, exit codes, output,
// command lines and the environment, and that it stops what does not end.
#include "wine_harness.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace corvane::test;
using namespace std::chrono_literals;
using testing::Values;

std::string Smoke() { return Quote(WindowsPath(Win64BuildDir() + "/tests/wine/cvsmoke.exe")); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// cvsmoke turns \n, \r, \t and \\ in its arguments into the characters they name.
std::string SmokeEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c == '\\') out += "\\\\";
    else out += c;
  }
  return out;
}

std::vector<std::string> SmokeProcesses(const WineSession& session) {
  std::vector<std::string> found;
  for (const std::string& line : session.Processes())
    if (line.find("cvsmoke.exe") != std::string::npos) found.push_back(line);
  return found;
}

// One session for the whole program: every suite here shares the group's prefix and display.
std::unique_ptr<WineSession> g_session;
std::string g_sessionError;

class SessionEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    try {
      g_session = std::make_unique<WineSession>("wine-harness");
    } catch (const std::exception& e) {
      g_sessionError = e.what();
    }
  }
  void TearDown() override { g_session.reset(); }
};

testing::Environment* const g_environment = testing::AddGlobalTestEnvironment(new SessionEnvironment);

class WineHarness : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(g_session) << "no Wine session: " << g_sessionError; }
  static WineSession& Session() { return *g_session; }
};

// ---- message boxes: what the user reads, exactly

struct BoxCase {
  const char* name;
  std::string title;
  std::string text;
};

class MessageBoxText : public WineHarness, public testing::WithParamInterface<BoxCase> {};

TEST_P(MessageBoxText, IsReadExactlyAndOkEndsTheBox) {
  const BoxCase& box = GetParam();
  const RunResult result =
      Session().Run(Smoke() + " box -1 " + Quote(SmokeEscape(box.title)) + " " + Quote(SmokeEscape(box.text)));
  ASSERT_FALSE(result.timedOut);
  ASSERT_EQ(result.dialogs.size(), 1u);
  EXPECT_EQ(result.dialogs[0].title, box.title);
  EXPECT_EQ(result.dialogs[0].Texts("static"), std::vector<std::string>{box.text});
  EXPECT_EQ(result.dialogs[0].Texts("button"), std::vector<std::string>{"OK"});
  EXPECT_EQ(result.exitCode, 4294967295u);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MessageBoxText,
    Values(BoxCase{"LineBreak", "Error", "Line one\nLine two"},
           BoxCase{"CarriageReturnLineFeed", "Error", "First\r\nSecond"},
           BoxCase{"TabAndBackslash", "Error", "C:\\temp\tdone"},
           BoxCase{"SpacesAtBothEnds", "  Padded title ", " leading and trailing  "},
           BoxCase{"NonAsciiInTitleAndText", "Größe – Fehler", "Die Datei „a.jar“ fehlt."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WineHarness, TwoBoxesInARowAreBothRecordedInOrder) {
  const RunResult result = Session().Run(Smoke() + " box 0 Error first second");
  ASSERT_FALSE(result.timedOut);
  ASSERT_EQ(result.dialogs.size(), 2u);
  EXPECT_EQ(result.dialogs[0].Texts("static"), std::vector<std::string>{"first"});
  EXPECT_EQ(result.dialogs[1].Texts("static"), std::vector<std::string>{"second"});
  EXPECT_EQ(result.exitCode, 0u);
}

// ---- exit codes, as GetExitCodeProcess gives them

struct ExitCase {
  const char* name;
  const char* code;
  uint32_t expected;
};

class ExitCode : public WineHarness, public testing::WithParamInterface<ExitCase> {};

TEST_P(ExitCode, ReadsAsAnUnsigned32BitValue) {
  const RunResult result = Session().Run(Smoke() + " exit " + GetParam().code);
  ASSERT_FALSE(result.timedOut);
  EXPECT_TRUE(result.dialogs.empty());
  EXPECT_EQ(result.exitCode, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Codes, ExitCode,
                         Values(ExitCase{"Zero", "0", 0u}, ExitCase{"Small", "3", 3u},
                                ExitCase{"Above255", "300", 300u}, ExitCase{"MinusOne", "-1", 4294967295u},
                                ExitCase{"Lowest", "-2147483648", 2147483648u}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- driving a held dialog

struct AnswerCase {
  const char* name;
  const char* button;
  uint32_t exitCode;  // the id MessageBox returns for that button
};

class HeldDialog : public WineHarness, public testing::WithParamInterface<AnswerCase> {};

TEST_P(HeldDialog, WaitsUntilPressedAndThePressedButtonAnswers) {
  auto process = Session().Start(Smoke() + " yesno Question " + Quote("Go on?"));
  const Dialog dialog = process->WaitForDialog();
  EXPECT_EQ(dialog.title, "Question");
  EXPECT_EQ(dialog.Texts("static"), std::vector<std::string>{"Go on?"});
  EXPECT_EQ(dialog.Texts("button"), (std::vector<std::string>{"&Yes", "&No"}));
  EXPECT_TRUE(process->Running()) << "nothing may be pressed until told";
  process->Press(GetParam().button);
  const RunResult result = process->Wait();
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.dialogs.size(), 1u) << "nothing was shown after the dialog already handed out";
  EXPECT_EQ(result.exitCode, GetParam().exitCode);
}

INSTANTIATE_TEST_SUITE_P(Buttons, HeldDialog,
                         Values(AnswerCase{"Yes", "Yes", 6u}, AnswerCase{"No", "No", 7u},
                                AnswerCase{"WithMnemonic", "&No", 7u}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WineHarness, SuccessiveDialogsAreHandedOutOneByOne) {
  auto process = Session().Start(Smoke() + " box 5 Error first second third");
  EXPECT_EQ(process->WaitForDialog().Texts("static"), std::vector<std::string>{"first"});
  process->Press("OK");
  EXPECT_EQ(process->WaitForDialog().Texts("static"), std::vector<std::string>{"second"});
  process->Press("OK");
  // Wait answers the rest and reports every dialog of the run, in order.
  const RunResult result = process->Wait(30s, "OK");
  EXPECT_FALSE(result.timedOut);
  ASSERT_EQ(result.dialogs.size(), 3u);
  EXPECT_EQ(result.dialogs[0].Texts("static"), std::vector<std::string>{"first"});
  EXPECT_EQ(result.dialogs[2].Texts("static"), std::vector<std::string>{"third"});
  EXPECT_EQ(result.exitCode, 5u);
}

TEST_F(WineHarness, WaitAnswersADialogAlreadyOpen) {
  auto process = Session().Start(Smoke() + " box 0 Error held");
  EXPECT_EQ(process->WaitForDialog().Texts("static"), std::vector<std::string>{"held"});
  const RunResult result = process->Wait(30s, "OK");
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.dialogs.size(), 1u);
  EXPECT_EQ(result.exitCode, 0u);
}

TEST_F(WineHarness, PressingAButtonTheDialogLacksFailsTheTest) {
  auto process = Session().Start(Smoke() + " yesno Question " + Quote("Go on?"));
  process->WaitForDialog();
  EXPECT_NONFATAL_FAILURE(process->Press("Cancel"), "has no button \"Cancel\"");
  process->Press("Yes");
  EXPECT_EQ(process->Wait().exitCode, 6u);
}

TEST_F(WineHarness, WaitingForADialogThatNeverComesFailsTheTest) {
  auto process = Session().Start(Smoke() + " exit 4");
  EXPECT_NONFATAL_FAILURE(process->WaitForDialog(), "ended (exit code 4) before showing another dialog");
  EXPECT_FALSE(process->Running());
}

TEST_F(WineHarness, ADialogWithoutTheAutomaticButtonIsLeftOpenUntilTheTimeOut) {
  RunOptions options;
  options.timeout = 3s;
  const RunResult result = Session().Run(Smoke() + " yesno Question " + Quote("Go on?"), options);
  EXPECT_TRUE(result.timedOut);
  EXPECT_EQ(result.dialogs.size(), 1u);
  EXPECT_TRUE(SmokeProcesses(Session()).empty());
}

// ---- programs that do not end

enum class Stop { RunTimeOut, WaitTimeOut, Destroyed };

struct StopCase {
  const char* name;
  Stop how;
};

class NeverEnding : public WineHarness, public testing::WithParamInterface<StopCase> {};

TEST_P(NeverEnding, IsKilledAndNothingOfItIsLeft) {
  if (GetParam().how == Stop::RunTimeOut) {
    RunOptions options;
    options.timeout = 3s;
    const RunResult result = Session().Run(Smoke() + " sleep", options);
    EXPECT_TRUE(result.timedOut);
  } else {
    auto process = Session().Start(Smoke() + " sleep");
    EXPECT_TRUE(process->Running());
    EXPECT_EQ(SmokeProcesses(Session()).size(), 1u) << "the program must be seen while it runs";
    if (GetParam().how == Stop::WaitTimeOut) {
      const RunResult result = process->Wait(2s);
      EXPECT_TRUE(result.timedOut);
      EXPECT_FALSE(process->Running());
    }
    process.reset();
  }
  EXPECT_EQ(SmokeProcesses(Session()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Ways, NeverEnding,
                         Values(StopCase{"RunTimeOut", Stop::RunTimeOut}, StopCase{"WaitTimeOut", Stop::WaitTimeOut},
                                StopCase{"DestroyedWhileRunning", Stop::Destroyed}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the command line, the working directory, the environment and the output

struct CommandLineCase {
  const char* name;
  std::string tail;  // after the output file, exactly as typed
};

class CommandLine : public WineHarness, public testing::WithParamInterface<CommandLineCase> {};

TEST_P(CommandLine, ReachesTheProgramUnchanged) {
  const std::string out = Session().FreshDir("cmdline") + "/cmdline.txt";
  const std::string commandLine = Smoke() + " echo-cmdline " + Quote(WindowsPath(out)) + GetParam().tail;
  const RunResult result = Session().Run(commandLine);
  ASSERT_EQ(result.exitCode, 0u);
  EXPECT_EQ(ReadFile(out), commandLine);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CommandLine,
    Values(CommandLineCase{"NothingMore", ""},
           CommandLineCase{"SpacesInsideAndBetweenWords", "   \"two  spaces\"  plain  "},
           CommandLineCase{"EscapedQuotesAndBackslashes", " \"say \\\"hi\\\"\" C:\\dir\\ \"end\\\\\""},
           CommandLineCase{"EmptyWordAndTab", " \"\" \"a\tb\""},
           CommandLineCase{"NonAscii", " \"Grüße aus Köln\""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WineHarness, QuotedWordsAreParsedBackAsTheyWere) {
  const std::vector<std::string> words = {"plain",  "two  spaces", "quote\"inside", "trailing\\",
                                          "a\\\\\"b", "",            "C:\\Program Files\\x", "ümlaut"};
  const std::string out = Session().FreshDir("args") + "/args.txt";
  std::string commandLine = Smoke() + " echo-args " + Quote(WindowsPath(out));
  std::string expected;
  for (const std::string& word : words) {
    commandLine += " " + Quote(word);
    expected += word + "\n";
  }
  ASSERT_EQ(Session().Run(commandLine).exitCode, 0u);
  EXPECT_EQ(ReadFile(out), expected);
}

TEST_F(WineHarness, TheWorkingDirectoryIsTheOneAskedFor) {
  RunOptions options;
  options.workDir = Session().FreshDir("work dir");
  const RunResult result = Session().Run(Smoke() + " cwd", options);
  ASSERT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.output, WindowsPath(options.workDir) + "\n");
}

TEST_F(WineHarness, OnlyTheGivenEnvironmentReachesTheProgram) {
  const char* had = std::getenv("JAVA_HOME");
  const std::string saved = had ? had : "";
  setenv("JAVA_HOME", "/opt/host-jdk", 1);
  RunOptions options;
  options.env["CORVANE_PROBE"] = "a value with spaces=and an equals sign";
  const RunResult result = Session().Run(Smoke() + " env CORVANE_PROBE JAVA_HOME CVDRIVER_COMMAND", options);
  if (had) setenv("JAVA_HOME", saved.c_str(), 1);
  else unsetenv("JAVA_HOME");
  ASSERT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.output,
            "CORVANE_PROBE=a value with spaces=and an equals sign\n"
            "JAVA_HOME unset\n"
            "CVDRIVER_COMMAND unset\n");
}

struct OutputCase {
  const char* name;
  const char* mode;
  std::string text;
};

class Output : public WineHarness, public testing::WithParamInterface<OutputCase> {};

TEST_P(Output, IsCapturedExactly) {
  const RunResult result = Session().Run(Smoke() + " " + GetParam().mode + " " + Quote(SmokeEscape(GetParam().text)));
  ASSERT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.output, GetParam().text + "\n");
}

INSTANTIATE_TEST_SUITE_P(Streams, Output,
                         Values(OutputCase{"StandardOutput", "print", "to standard output"},
                                OutputCase{"StandardError", "print-err", "to standard error"},
                                OutputCase{"ControlCharacters", "print", "tab\there\r\nnext line \\ end"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- screenshots

uint32_t Le32(const std::string& bytes, size_t at) {
  return (uint32_t)(unsigned char)bytes[at] | (uint32_t)(unsigned char)bytes[at + 1] << 8 |
         (uint32_t)(unsigned char)bytes[at + 2] << 16 | (uint32_t)(unsigned char)bytes[at + 3] << 24;
}

TEST_F(WineHarness, AScreenshotIsABmpOfTheWholeScreen) {
  const std::string dir = Session().FreshDir("screenshot");
  auto process = Session().Start(Smoke() + " box 0 Shot " + Quote("On the screen"));
  process->WaitForDialog();
  process->Screenshot(dir + "/screen.bmp");
  EXPECT_NONFATAL_FAILURE(process->Screenshot(dir + "/missing/screen.bmp"), "cannot create");
  process->Press("OK");
  EXPECT_EQ(process->Wait().exitCode, 0u);

  const std::string bmp = ReadFile(dir + "/screen.bmp");
  ASSERT_GE(bmp.size(), 54u);
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(Le32(bmp, 2), bmp.size());
  EXPECT_EQ(Le32(bmp, 10), 54u);          // pixels right after the two headers
  EXPECT_EQ(Le32(bmp, 14), 40u);          // BITMAPINFOHEADER
  EXPECT_EQ(Le32(bmp, 18), 1280u);        // the session's screen
  EXPECT_EQ(Le32(bmp, 22), 1024u);
  EXPECT_EQ(Le32(bmp, 28) & 0xFFFF, 24u);  // bits per pixel
  ASSERT_EQ(bmp.size(), 54u + 1280u * 3 * 1024);
  // The box is on the screen, so the picture is not one colour.
  std::set<uint32_t> colours;
  for (size_t at = 54; at + 3 <= bmp.size() && colours.size() < 3; at += 3 * 97)
    colours.insert((unsigned char)bmp[at] | (unsigned char)bmp[at + 1] << 8 | (unsigned char)bmp[at + 2] << 16);
  EXPECT_GE(colours.size(), 2u);
}

// ---- helpers that need no Wine

TEST(SessionGroup, ANameThatIsNotPlainIsRefused) {
  for (const char* group : {"", "..", "a/b", "../escape"}) EXPECT_THROW(WineSession{group}, std::invalid_argument) << group;
}

TEST_F(WineHarness, AFreshDirectoryStaysUnderTheSessionAndStartsEmpty) {
  const std::string dir = Session().FreshDir("Suite/Case");
  std::ofstream(dir + "/left-over") << "x";
  EXPECT_EQ(Session().FreshDir("Suite/Case"), dir);
  EXPECT_TRUE(std::filesystem::is_empty(dir));
  for (const char* name : {"", "/tmp", "..", "a/../../b", "a//b"})
    EXPECT_THROW(Session().FreshDir(name), std::invalid_argument) << name;
}

}  // namespace
