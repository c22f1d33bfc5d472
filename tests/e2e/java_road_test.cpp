// Running Java: launchers load the fake jvm.dll of the fixtures (the scenario application behind it)
// and run main. What the application printed reaches the process's output, its log files or the
// error dialog's details; reports are the dialogs a user sees.
#include <gtest/gtest.h>

#include <array>

#include "e2e_support.h"

namespace {

using namespace corvane::test;

using JavaRoad = WineTest;
using JavaOutput = WineTest;

constexpr int MessageControl = 1001, DetailsControl = 1002;

// Static options come first, command-line arguments follow unexpanded (the AppOptions, expanded,
// stand in for none), the launcher's properties are set, awt.dll comes from the runtime's bin folder
// only (the fixture's records where it was loaded from), the process waits for a thread that
// outlives main, and System.exit from another thread gives its status after the shutdown hooks.
TEST_F(JavaRoad, MainGetsItsArgumentsAndPropertiesAndTheProcessWaitsForItsThreadsAndExitStatus) {
  const AppFolder app = MakeAppFolder("java-app");
  for (const fs::path& awt : {app.folder / "awt.dll", app.folder / "jre" / "bin" / "awt.dll"}) {
    fs::copy_file(fs::path(Win64BuildDir()) / "tests/fixtures/awt_marker/awt.dll", awt);
  }
  RunOptions options;
  options.env = {{"CORVANE_TEST_VALUE", "expanded"}, {"CORVANE_AWT_MARKER", WindowsPath((app.folder / "awt").string())}};
  const Texts words = {"two words", "%CORVANE_TEST_VALUE%", "", "props:corvane.", "prop:user.dir", "prop:test.option",
                       "prop:java.class.path", "prop:corvane.service.name", "thread:1500", "print:main-returns"};
  std::string arguments;
  Texts expected = {"arg 0 [args]"};
  for (size_t i = 0; i < words.size(); ++i) {
    arguments += " " + Quote(words[i]);
    expected.push_back("arg " + std::to_string(i + 1) + " [" + words[i] + "]");
  }
  expected.insert(expected.end(), {"unknown two words", "unknown %CORVANE_TEST_VALUE%", "unknown "});
  const RunResult result = RunApp(app, arguments, options);
  EXPECT_TRUE(result.dialogs.empty() && result.exitCode == 0u) << testing::PrintToString(Shown(result));
  const Texts lines = Lines(result.output);
  ASSERT_EQ(lines.size(), expected.size() + 12) << result.output;
  EXPECT_EQ(Texts(lines.begin(), lines.begin() + expected.size()), expected);
  // A normal start sets six corvane properties when the shell names every folder.
  Texts names;
  for (auto line = lines.begin() + expected.size(); line != lines.begin() + expected.size() + 6; ++line) {
    names.push_back(line->substr(0, line->find('=')));
  }
  EXPECT_EQ(names, (Texts{"prop corvane.appini.showconsole", "prop corvane.csidl.appdata", "prop corvane.csidl.local.appdata",
                          "prop corvane.csidl.personal", "prop corvane.exe.path", "prop corvane.extract.path"}));
  EXPECT_TRUE(Has(lines, "prop corvane.appini.showconsole=false") && Has(lines, "prop corvane.exe.path=" + app.launcher));
  // The shell's folders, each its own (a fresh prefix has the usual ones).
  const auto folder = [&](size_t i, const char* end) { return lines[expected.size() + i].ends_with(end); };
  EXPECT_TRUE(folder(1, "\\AppData\\Roaming") && folder(2, "\\AppData\\Local") && folder(3, "\\Documents")) << result.output;
  EXPECT_EQ(Texts(lines.end() - 6, lines.end()),
            (Texts{"prop user.dir=" + WindowsPath(app.folder.string()), "prop test.option=from-the-project",
                   "prop java.class.path=scenario-app.jar", "prop corvane.service.name=null", "out main-returns",
                   "thread done"}));
  EXPECT_EQ(ReadAll(app.folder / "awt"), WindowsPath((app.folder / "jre" / "bin" / "awt.dll").string()) + "\r\n");

  EXPECT_EQ(Lines(RunApp(app, "", options).output),
            (Texts{"arg 0 [args]", "arg 1 [print:expanded]", "arg 2 [print:two words]", "out expanded", "out two words"}));
  const RunResult exited = RunApp(app, "hook:closing exit-thread:3 print:never");
  EXPECT_TRUE(exited.dialogs.empty() && exited.exitCode == 3u) << exited.exitCode;
  const Texts exitLines = Lines(exited.output);
  EXPECT_TRUE(Has(exitLines, "exit 3") && Has(exitLines, "hook closing") && !Has(exitLines, "out never")) << exited.output;
}

TEST_F(JavaRoad, FailuresBeforeMainAreReportedAndEndWithMinusOne) {
  const std::array<const char*, 3> failures[] = {
      {"java-missing-class", "", "Error: Error locating class: corvane/test/NotThere"},
      {"java-app", "halfexports", "Error: Unable to locate JNI interfaces in jre\\bin\\server\\jvm.dll"},
      {"java-bad-option", "", "Error: Unable to create JVM instance using jre\\bin\\server\\jvm.dll"}};
  for (const auto& [scenario, runtime, shown] : failures) {
    SCOPED_TRACE(scenario);
    const RunResult result = RunApp(MakeAppFolder(scenario, runtime, scenario), "print:never");
    EXPECT_EQ(Shown(result), Texts{shown});
    EXPECT_EQ(result.exitCode, StatusMinusOne);
    EXPECT_FALSE(Has(Lines(result.output), "out never")) << result.output;
  }
}

// While the first instance's report that no runtime was found is open, a second one with
// SecondInstanceCall runs main in a JVM of its own, where an exception out of main is reported; the
// first is left alone.
TEST_F(JavaRoad, ASecondInstanceRunsMainInItsOwnJvmAndTheFirstIsLeftAlone) {
  auto running = StartApp(MakeAppFolder("java-second-instance", std::nullopt, "first"), "");
  EXPECT_EQ(running->WaitForDialog().Texts("static"), Texts{NoRuntime});
  const RunResult result = RunApp(MakeAppFolder("java-second-instance", "", "second"), "args throw:late");
  EXPECT_EQ(Lines(result.output), (Texts{"out second", "arg 0 [print:second]", "arg 1 [args]", "arg 2 [throw:late]",
                                         "java.lang.IllegalStateException: late"}));
  EXPECT_EQ(Shown(result), Texts{"Error: Error invoking method: main(java/lang/String[])"});
  EXPECT_EQ(result.exitCode, StatusMinusOne);
  // A start that would hand its arguments over finds no instance taking them: it is refused as before.
  EXPECT_EQ(Shown(RunApp(MakeAppFolder("second-start", "", "third"), "print:never")),
            Texts{"Error: An instance of this program is already running."});
  EXPECT_TRUE(running->Running());
  running->Press("OK");
  const RunResult firstEnd = running->Wait();
  EXPECT_TRUE(firstEnd.dialogs.size() == 1u && firstEnd.exitCode == StatusMinusOne);
}

// Second starts hand their folder and arguments to the running instance and end with 0: the first
// comes while its VM is still starting and is taken once main is about to run; an exception out of
// the method is described and the instance goes on; a client whose message is no
// whole message is refused and changes nothing; the next start is taken.
TEST_F(JavaRoad, ASecondStartsArgumentsReachTheRunningInstance) {
  const AppFolder app = MakeAppFolder("second-start");
  RunOptions traced;
  traced.env = {{"CORVANE_TRACE", "trace.txt"}};
  auto first = StartApp(app, "wait-stop:60000 print:first-done", traced);
  const std::string served = "second starts are answered on ";
  std::string pipe;
  ASSERT_TRUE(WaitUntil([&] {
    const std::string trace = ReadAll(app.folder / "trace.txt");
    const size_t at = trace.find(served);
    if (at != std::string::npos) pipe = trace.substr(at + served.size(), trace.find('\r', at) - at - served.size());
    return !pipe.empty();
  }));
  RunOptions elsewhere;
  elsewhere.workDir = Session().FreshDir("ASecondStartsArgumentsReachTheRunningInstance/elsewhere");
  const RunResult threw = Session().Run(app.Command("\"two words\" throw:late"), elsewhere);
  // Magic without the zero byte that ends each part, once the instance takes starts.
  EXPECT_EQ(Session().Run(Quote(FixtureProgram("cvpipeclient")) + " " + pipe + " CVS1garbage").output, "answer R\r\n");
  const RunResult stopped = Session().Run(app.Command("stop"), elsewhere);
  for (const RunResult* second : {&threw, &stopped}) {
    EXPECT_TRUE(second->dialogs.empty() && second->exitCode == 0u && second->output.empty()) << second->output;
  }
  const RunResult end = first->Wait();
  EXPECT_TRUE(end.dialogs.empty() && end.exitCode == 0u) << testing::PrintToString(Shown(end));
  const std::string folder = "second start in " + WindowsPath(elsewhere.workDir);
  EXPECT_EQ(Lines(end.output), (Texts{folder, "unknown two words", "java.lang.IllegalStateException: late", folder,
                                      "stop requested", "stopped", "out first-done"}));
  const std::string trace = ReadAll(app.folder / "trace.txt");
  EXPECT_NE(trace.find("a message that is no whole message was refused"), std::string::npos) << trace;
  EXPECT_NE(trace.find("onSecondInstance threw"), std::string::npos) << trace;

  // A main class without the method: both starts are taken and dropped, and that is traced once.
  const AppFolder missing = MakeAppFolder("second-start-missing", "", "missing");
  auto lacking = StartApp(missing, "wait-stop:60000", traced);
  ASSERT_TRUE(WaitUntil([&] { return ReadAll(missing.folder / "trace.txt").find("main called") != std::string::npos; }));
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Session().Run(missing.Command("stop"), elsewhere).exitCode, 0u);
  EXPECT_TRUE(lacking->Running()) << "a dropped stop never reached main";
  lacking.reset();
  const std::string dropped = ReadAll(missing.folder / "trace.txt");
  const size_t said = dropped.find("no method static void onMissing(String[], String) in corvane/test/ScenarioApp");
  EXPECT_TRUE(said != std::string::npos && dropped.find("no method", said + 1) == std::string::npos) << dropped;
}

// In the UTF-8 code page (the manifest's) every name reaches Java whole: the launcher's folder, its
// arguments, a class-path folder and a log file named in Latin, Cyrillic and Chinese characters, and
// a message that holds them.
TEST_F(JavaOutput, InTheUtf8CodePageTheApplicationSeesEveryCharacterOfTheUsersNames) {
  const AppFolder app = MakeAppFolder("utf8", "", "Zoë Жук 中文");
  fs::create_directories(app.folder / "Библиотека-图书");
  fs::rename(app.folder / "scenario-app.jar", app.folder / "Библиотека-图书" / "scenario-app.jar");
  const RunResult result = RunApp(app, "args prop:user.dir prop:java.class.path Zoë Жук 中文 😀");
  EXPECT_TRUE(result.dialogs.empty() && result.exitCode == 0u) << testing::PrintToString(Shown(result));
  EXPECT_EQ(Lines(ReadAll(app.folder / "журнал-日志.log")),
            (Texts{"arg 0 [args]", "arg 1 [prop:user.dir]", "arg 2 [prop:java.class.path]", "arg 3 [Zoë]", "arg 4 [Жук]",
                   "arg 5 [中文]", "arg 6 [😀]", "prop user.dir=" + WindowsPath(app.folder.string()),
                   "prop java.class.path=Библиотека-图书;Библиотека-图书\\scenario-app.jar", "unknown Zoë", "unknown Жук", "unknown 中文", "unknown 😀"}));
  const RunResult missing = RunApp(MakeAppFolder("utf8", std::nullopt, "kein Java"), "");
  EXPECT_EQ(Shown(missing), Texts{"Error: Keine Java-Laufzeit (mindestens 17): Жук, 中文"});
}

// Captured output is the error dialog's details (the message painted above them) when main fails, the
// VM aborts or rejects an option (the launcher's vfprintf hook comes before the configured options),
// never when the run succeeds; Escape and the close command end the dialog.
TEST_F(JavaOutput, CapturedOutputIsTheErrorDialogsDetailsOnlyWhenTheRunFails) {
  const AppFolder app = MakeAppFolder("java-capture");
  auto failing = StartApp(app, "print:before eprint:warning throw:boom");
  const Dialog dialog = failing->WaitForDialog();
  EXPECT_EQ(dialog.title, "Error");
  EXPECT_EQ(dialog.Texts("static"), (Texts{"Error invoking method: main(java/lang/String[])", "Details:"}));
  EXPECT_EQ(dialog.TextOf(MessageControl), "Error invoking method: main(java/lang/String[])");
  EXPECT_EQ(Lines(dialog.TextOf(DetailsControl)),
            (Texts{"out before", "err warning", "Exception in thread \"main\" java.lang.IllegalStateException: boom"}));
  EXPECT_EQ(dialog.Texts("button"), Texts{"OK"});
  for (const Control& control : dialog.controls) EXPECT_EQ(control.visible, control.id != MessageControl) << control.id;
  failing->Key("escape");
  const RunResult failed = failing->Wait(30s, "");
  EXPECT_TRUE(!failed.timedOut && failed.exitCode == StatusMinusOne) << "the dialog stayed open";
  EXPECT_FALSE(Has(Lines(failed.output), "out before")) << "captured output reached the process's own streams";

  const RunResult succeeded = RunApp(app, "print:quiet exit:4");
  EXPECT_TRUE(succeeded.dialogs.empty() && succeeded.exitCode == 4u);

  auto aborting = StartApp(MakeAppFolder("java-capture-small-heap", "", "small-heap"), "print:never");
  const Dialog aborted = aborting->WaitForDialog();
  EXPECT_EQ(aborted.TextOf(MessageControl), "JVM has aborted due to an internal error.");
  EXPECT_EQ(aborted.TextOf(DetailsControl), "Error occurred during initialization of VM\r\nToo small maximum heap\r\n");
  aborting->Close();
  const RunResult end = aborting->Wait(30s, "");
  EXPECT_TRUE(!end.timedOut && end.exitCode == 3u) << "the dialog stayed open, or not the C runtime's abort";

  const RunResult unknown = RunApp(MakeAppFolder("java-capture-bad-option", "", "bad-option"), "");
  ASSERT_EQ(unknown.dialogs.size(), 1u) << testing::PrintToString(Shown(unknown));
  EXPECT_EQ(unknown.dialogs[0].TextOf(MessageControl), "Unable to create JVM instance using jre\\bin\\server\\jvm.dll");
  EXPECT_EQ(unknown.dialogs[0].TextOf(DetailsControl), "Unrecognized option: -Xfoo\r\n");
  EXPECT_EQ(unknown.exitCode, StatusMinusOne);
}

}  // namespace
