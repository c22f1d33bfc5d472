// Running Java end to end: launchers made by corvane-build load the fake jvm.dll of the fixtures (the
// scenario application behind it) and run main. What the application printed reaches the process's
// output, its log files or the error dialog's details; reports are the dialogs a user sees.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

using namespace corvane::test;

using JavaRoad = WineTest;
using JavaOutput = WineTest;

constexpr int MessageControl = 1001, DetailsControl = 1002;

// The awt.dll of the fixtures at `path`; it records where it was loaded from in CORVANE_AWT_MARKER.
void PutAwt(const fs::path& path) {
  fs::copy_file(fs::path(Win64BuildDir()) / "tests/fixtures/awt_marker/awt.dll", path);
}

// The static options come first, command-line arguments follow unexpanded, the launcher's system
// properties are set, awt.dll comes from the runtime's bin folder only, and the process waits for
// a thread that outlives main.
TEST_F(JavaRoad, MainGetsItsArgumentsAndPropertiesAndTheProcessWaitsForItsThreads) {
  const AppFolder app = MakeAppFolder("java-app");
  PutAwt(app.folder / "awt.dll");  // found first by a bare-name load: it must never be taken
  PutAwt(app.folder / "jre" / "bin" / "awt.dll");
  RunOptions options;
  options.env = {{"CORVANE_TEST_VALUE", "expanded"}, {"CORVANE_AWT_MARKER", WindowsPath((app.folder / "awt").string())}};
  const std::vector<std::string> words = {"two words", "%CORVANE_TEST_VALUE%", "", "props:corvane.", "prop:user.dir",
                                          "prop:test.option", "prop:java.class.path", "prop:corvane.service.name",
                                          "thread:1500", "print:main-returns"};
  std::string arguments;
  std::vector<std::string> expected = {"arg 0 [args]"};
  for (size_t i = 0; i < words.size(); ++i) {
    arguments += " " + Quote(words[i]);
    expected.push_back("arg " + std::to_string(i + 1) + " [" + words[i] + "]");
  }
  expected.insert(expected.end(), {"unknown two words", "unknown %CORVANE_TEST_VALUE%", "unknown "});
  const RunResult result = RunApp(app, arguments, options);
  EXPECT_TRUE(result.dialogs.empty()) << testing::PrintToString(Shown(result));
  EXPECT_EQ(result.exitCode, 0u);
  std::vector<std::string> lines = Lines(result.output);
  ASSERT_EQ(lines.size(), expected.size() + 12) << result.output;
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + expected.size()), expected);
  // With user.dir, a normal start sets seven properties when the shell names every folder.
  std::vector<std::string> names;
  for (auto line = lines.begin() + expected.size(); line != lines.begin() + expected.size() + 6; ++line) {
    names.push_back(line->substr(0, line->find('=')));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"prop corvane.appini.showconsole", "prop corvane.csidl.appdata",
                                             "prop corvane.csidl.local.appdata", "prop corvane.csidl.personal",
                                             "prop corvane.exe.path", "prop corvane.extract.path"}));
  EXPECT_TRUE(Has(lines, "prop corvane.appini.showconsole=false") && Has(lines, "prop corvane.exe.path=" + app.launcher))
      << result.output;
  EXPECT_EQ(std::vector<std::string>(lines.end() - 6, lines.end()),
            (std::vector<std::string>{"prop user.dir=" + WindowsPath(app.folder.string()),
                                      "prop test.option=from-the-project", "prop java.class.path=scenario-app.jar",
                                      "prop corvane.service.name=null", "out main-returns", "thread done"}));
  EXPECT_EQ(ReadAll(app.folder / "awt"), WindowsPath((app.folder / "jre" / "bin" / "awt.dll").string()) + "\r\n");
}

TEST_F(JavaRoad, AppOptionsStandInForAnEmptyCommandLineExpandedAndAwtBesideTheProgramIsNotLoaded) {
  const AppFolder app = MakeAppFolder("java-app");
  PutAwt(app.folder / "awt.dll");
  RunOptions options;
  options.env = {{"CORVANE_TEST_VALUE", "expanded"}, {"CORVANE_AWT_MARKER", WindowsPath((app.folder / "awt").string())}};
  const RunResult result = RunApp(app, "", options);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(Lines(result.output), (std::vector<std::string>{"arg 0 [args]", "arg 1 [print:expanded]",
                                                            "arg 2 [print:two words]", "out expanded", "out two words"}))
      << result.output;
  EXPECT_EQ(ReadAll(app.folder / "awt"), "");
}

TEST_F(JavaRoad, SystemExitFromAnotherThreadGivesItsStatusAfterTheShutdownHooks) {
  const RunResult result = RunApp(MakeAppFolder("java-app"), "hook:closing exit-thread:3 print:never");
  EXPECT_TRUE(result.dialogs.empty()) << testing::PrintToString(Shown(result));
  EXPECT_EQ(result.exitCode, 3u);
  const std::vector<std::string> lines = Lines(result.output);
  EXPECT_TRUE(Has(lines, "exit 3") && Has(lines, "hook closing") && !Has(lines, "out never")) << result.output;
}

TEST_F(JavaRoad, FailuresBeforeMainAreReportedAndEndWithMinusOne) {
  struct Failure {
    const char* scenario;
    const char* runtime;
    std::string shown;
  };
  const Failure failures[] = {
      {"java-missing-class", "", "Error: Error locating class: corvane/test/NotThere"},
      {"java-app", "halfexports", "Error: Unable to locate JNI interfaces in jre\\bin\\server\\jvm.dll"},
      {"java-bad-option", "", "Error: Unable to create JVM instance using jre\\bin\\server\\jvm.dll"},
  };
  for (const Failure& failure : failures) {
    SCOPED_TRACE(failure.scenario);
    const RunResult result = RunApp(MakeAppFolder(failure.scenario, failure.runtime, failure.scenario), "print:never");
    EXPECT_EQ(Shown(result), std::vector<std::string>{failure.shown});
    EXPECT_EQ(result.exitCode, StatusMinusOne);
    EXPECT_FALSE(Has(Lines(result.output), "out never")) << result.output;
  }
}

TEST_F(JavaRoad, AClassPathFolderIsFollowedByItsArchivesInTheWorkingFolderEnteredBeforeTheSearch) {
  const AppFolder app = MakeAppFolder("java-class-folder", std::nullopt);
  // The working folder holds the runtime and the class path; the folder of the executable holds a
  // jre\bin\server\jvm.dll that is no DLL, which the loader must not take instead.
  const fs::path work = app.folder / "work";
  PutRuntime(work / "jre");
  PutRuntime(app.folder / "jre", "notadll");
  fs::create_directories(work / "lib" / "nested");
  fs::rename(app.folder / "scenario-app.jar", work / "lib" / "nested" / "scenario-app.jar");
  std::ofstream(work / "lib" / "notes.txt") << "not an archive";
  const RunResult result = RunApp(app, "prop:java.class.path prop:user.dir");
  EXPECT_TRUE(result.dialogs.empty()) << testing::PrintToString(Shown(result));
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(Lines(result.output), (std::vector<std::string>{"prop java.class.path=lib;lib\\nested\\scenario-app.jar;missing.jar",
                                                            "prop user.dir=" + WindowsPath(work.string())}));
}

// The first instance holds the instance mutex (its main class's) while its report that no runtime
// was found is open; a second one with SecondInstanceCall runs main in a JVM of its own, on its
// attached first thread, where an exception out of main is reported; the first is left alone.
TEST_F(JavaRoad, ASecondInstanceRunsMainInItsOwnJvmAndTheFirstIsLeftAlone) {
  const AppFolder first = MakeAppFolder("java-second-instance", std::nullopt, "first");
  const AppFolder second = MakeAppFolder("java-second-instance", "", "second");
  auto running = StartApp(first, "");
  EXPECT_EQ(running->WaitForDialog().Texts("static"), std::vector<std::string>{NoRuntime});
  const RunResult result = RunApp(second, "args throw:late");
  EXPECT_EQ(Lines(result.output), (std::vector<std::string>{"out second", "arg 0 [print:second]", "arg 1 [args]",
                                                            "arg 2 [throw:late]", "java.lang.IllegalStateException: late"}))
      << result.output;
  EXPECT_EQ(Shown(result), std::vector<std::string>{"Error: Error invoking method: main(java/lang/String[])"});
  EXPECT_EQ(result.exitCode, StatusMinusOne);
  EXPECT_TRUE(running->Running());
  running->Press("OK");
  const RunResult firstEnd = running->Wait();
  EXPECT_EQ(firstEnd.dialogs.size(), 1u);
  EXPECT_EQ(firstEnd.exitCode, StatusMinusOne);
}

// Log files: made with their folders, replaced or appended by each stream's flag, opened once with
// System.out's flag when both streams name one file, and a folder in a log file's place ends the start.
TEST_F(JavaOutput, LogFilesAreMadeReplacedAppendedOrSharedAsConfigured) {
  const AppFolder app = MakeAppFolder("java-logs");
  const fs::path logs = app.folder / "logs";
  fs::create_directories(logs / "a-folder");
  std::ofstream(logs / "err.log") << "earlier\r\n";
  std::ofstream(logs / "all.log") << "earlier\r\n";
  auto run = [&](const std::string& out, const std::string& err, const std::string& arguments) {
    RunOptions options;
    options.env = {{"CORVANE_OUT", out}, {"CORVANE_ERR", err}};
    return RunApp(app, arguments, options);
  };
  const RunResult separate = run("new\\out.log", "err.log", "print:one eprint:two");
  EXPECT_TRUE(separate.dialogs.empty()) << testing::PrintToString(Shown(separate));
  EXPECT_EQ(separate.exitCode, 0u);
  EXPECT_FALSE(Has(Lines(separate.output), "out one")) << separate.output;
  EXPECT_EQ(ReadAll(logs / "new" / "out.log"), "out one\r\n");
  EXPECT_EQ(ReadAll(logs / "err.log"), "earlier\r\nerr two\r\n");

  EXPECT_EQ(run("all.log", "all.log", "print:a eprint:b print:c").exitCode, 0u);
  EXPECT_EQ(ReadAll(logs / "all.log"), "out a\r\nerr b\r\nout c\r\n");

  const RunResult folder = run("a-folder", "err.log", "print:never");
  EXPECT_EQ(Shown(folder), std::vector<std::string>{"Error: Error instantiating object: java/io/FileOutputStream"});
  EXPECT_EQ(folder.exitCode, StatusMinusOne);
  EXPECT_FALSE(Has(Lines(folder.output), "out never"));
  // The constructor's exception went to System.err, still the process's own.
  EXPECT_NE(folder.output.find("java.io.FileNotFoundException"), std::string::npos) << folder.output;
}

// Captured output is shown as the error dialog's details when main fails or the VM aborts (the
// message painted above them), never when the run succeeds; Escape and the close command end it.
TEST_F(JavaOutput, CapturedOutputIsTheErrorDialogsDetailsOnlyWhenTheRunFails) {
  const AppFolder app = MakeAppFolder("java-capture");
  auto failing = StartApp(app, "print:before eprint:warning throw:boom");
  const Dialog dialog = failing->WaitForDialog();
  EXPECT_EQ(dialog.title, "Error");
  EXPECT_EQ(dialog.TextOf(MessageControl), "Error invoking method: main(java/lang/String[])");
  EXPECT_EQ(Lines(dialog.TextOf(DetailsControl)),
            (std::vector<std::string>{"out before", "err warning",
                                      "Exception in thread \"main\" java.lang.IllegalStateException: boom"}));
  EXPECT_EQ(dialog.Texts("static"), (std::vector<std::string>{dialog.TextOf(MessageControl), "Details:"}));
  EXPECT_EQ(dialog.Texts("button"), std::vector<std::string>{"OK"});
  for (const Control& control : dialog.controls) EXPECT_EQ(control.visible, control.id != MessageControl) << control.id;
  failing->Key("escape");
  const RunResult failed = failing->Wait(30s, "");
  EXPECT_FALSE(failed.timedOut) << "the dialog stayed open";
  EXPECT_EQ(failed.exitCode, StatusMinusOne);
  EXPECT_FALSE(Has(Lines(failed.output), "out before")) << "captured output reached the process's own streams";

  const RunResult succeeded = RunApp(app, "print:quiet exit:4");
  EXPECT_TRUE(succeeded.dialogs.empty());
  EXPECT_EQ(succeeded.exitCode, 4u);

  auto aborting = StartApp(MakeAppFolder("java-capture-small-heap", "", "small-heap"), "print:never");
  const Dialog aborted = aborting->WaitForDialog();
  EXPECT_EQ(aborted.TextOf(MessageControl), "JVM has aborted due to an internal error.");
  // The VM's messages came through the vfprintf hook, each LF made CR LF.
  EXPECT_EQ(aborted.TextOf(DetailsControl), "Error occurred during initialization of VM\r\nToo small maximum heap\r\n");
  aborting->Close();
  const RunResult end = aborting->Wait(30s, "");
  EXPECT_FALSE(end.timedOut) << "the dialog stayed open";
  EXPECT_EQ(end.exitCode, 3u);  // the C runtime's abort

  // The launcher's hooks come before the configured options, so the VM's complaint about an unknown
  // option goes through the vfprintf hook and the user sees why.
  const RunResult unknown = RunApp(MakeAppFolder("java-capture-bad-option", "", "bad-option"), "");
  ASSERT_EQ(unknown.dialogs.size(), 1u) << testing::PrintToString(Shown(unknown));
  EXPECT_EQ(unknown.dialogs[0].TextOf(MessageControl), "Unable to create JVM instance using jre\\bin\\server\\jvm.dll");
  EXPECT_EQ(unknown.dialogs[0].TextOf(DetailsControl), "Unrecognized option: -Xfoo\r\n");
  EXPECT_EQ(unknown.exitCode, StatusMinusOne);
}

}  // namespace
