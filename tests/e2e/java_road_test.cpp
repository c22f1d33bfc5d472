// Running Java end to end: launchers made by corvane-build load the fake jvm.dll of the test
// fixtures (the scenario application behind it) and run main. What the application printed reaches
// the process's standard output and error; reports are the dialogs a user sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "java_app_support.h"

namespace {

using namespace corvane::test;
namespace fs = std::filesystem;

using JavaRoad = JavaAppTest;

TEST_F(JavaRoad, ArgumentsFollowTheStaticOptionsUnexpanded) {
  const AppFolder app = MakeAppFolder("java-app");
  RunOptions options;
  options.env["CORVANE_TEST_VALUE"] = "expanded";
  const RunResult result = RunApp(app, "\"two words\" %CORVANE_TEST_VALUE% \"\"", options);
  EXPECT_TRUE(result.dialogs.empty()) << testing::PrintToString(Shown(result));
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(Lines(result.output),
            (std::vector<std::string>{"arg 0 [args]", "arg 1 [two words]", "arg 2 [%CORVANE_TEST_VALUE%]", "arg 3 []",
                                      "unknown two words", "unknown %CORVANE_TEST_VALUE%", "unknown "}))
      << result.output;
}

TEST_F(JavaRoad, AppOptionsStandInForAnEmptyCommandLineExpanded) {
  const AppFolder app = MakeAppFolder("java-app");
  RunOptions options;
  options.env["CORVANE_TEST_VALUE"] = "expanded";
  const RunResult result = RunApp(app, "", options);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(Lines(result.output), (std::vector<std::string>{"arg 0 [args]", "arg 1 [print:expanded]",
                                                            "arg 2 [print:two words]", "out expanded",
                                                            "out two words"}))
      << result.output;
}

TEST_F(JavaRoad, TheLauncherSetsItsSystemProperties) {
  const AppFolder app = MakeAppFolder("java-app");
  const RunResult result =
      RunApp(app, "prop:user.dir prop:corvane.exe.path prop:corvane.appini.showconsole prop:corvane.service.name "
                  "prop:test.option prop:java.class.path");
  EXPECT_EQ(result.exitCode, 0u);
  const std::vector<std::string> lines = Lines(result.output);
  // The folder of the executable is current when main runs (no WorkingDir).
  EXPECT_TRUE(Has(lines, "prop user.dir=" + WindowsPath(app.folder.string()))) << result.output;
  EXPECT_TRUE(Has(lines, "prop corvane.exe.path=" + app.launcher)) << result.output;
  EXPECT_TRUE(Has(lines, "prop corvane.appini.showconsole=false")) << result.output;
  EXPECT_TRUE(Has(lines, "prop corvane.service.name=null")) << result.output;  // only services
  EXPECT_TRUE(Has(lines, "prop test.option=from-the-project")) << result.output;
  EXPECT_TRUE(Has(lines, "prop java.class.path=scenario-app.jar")) << result.output;
}

TEST_F(JavaRoad, ShellFoldersAndTheExtractPathArePassedOn) {
  const AppFolder app = MakeAppFolder("java-app");
  const RunResult result = RunApp(app, "props:corvane.");
  EXPECT_EQ(result.exitCode, 0u);
  std::vector<std::string> names;
  for (const std::string& line : Lines(result.output)) {
    if (line.rfind("prop corvane.", 0) == 0) names.push_back(line.substr(5, line.find('=') - 5));
  }
  // With user.dir, a normal start sets seven properties when the shell names every folder.
  EXPECT_EQ(names, (std::vector<std::string>{"corvane.appini.showconsole", "corvane.csidl.appdata",
                                             "corvane.csidl.local.appdata", "corvane.csidl.personal",
                                             "corvane.exe.path", "corvane.extract.path"}))
      << result.output;
}

TEST_F(JavaRoad, SystemExitGivesItsStatusAfterTheShutdownHooks) {
  const AppFolder app = MakeAppFolder("java-app");
  const RunResult result = RunApp(app, "hook:closing exit:7 print:never");
  EXPECT_TRUE(result.dialogs.empty());
  EXPECT_EQ(result.exitCode, 7u);
  const std::vector<std::string> lines = Lines(result.output);
  EXPECT_TRUE(Has(lines, "exit 7") && Has(lines, "hook closing")) << result.output;
  EXPECT_FALSE(Has(lines, "out never")) << result.output;
}

TEST_F(JavaRoad, SystemExitFromAnotherThreadEndsTheProcess) {
  const AppFolder app = MakeAppFolder("java-app");
  const RunResult result = RunApp(app, "exit-thread:3");
  EXPECT_EQ(result.exitCode, 3u);
  EXPECT_TRUE(Has(Lines(result.output), "exit 3")) << result.output;
}

TEST_F(JavaRoad, TheProcessWaitsForThreadsThatOutliveMain) {
  const AppFolder app = MakeAppFolder("java-app");
  const RunResult result = RunApp(app, "thread:1500 print:main-returns");
  EXPECT_EQ(result.exitCode, 0u);
  const std::vector<std::string> lines = Lines(result.output);
  ASSERT_TRUE(Has(lines, "out main-returns")) << result.output;
  EXPECT_TRUE(Has(lines, "thread done")) << result.output;
}

TEST_F(JavaRoad, AnExceptionOutOfMainIsReportedAndEndsWithMinusOne) {
  const AppFolder app = MakeAppFolder("java-app");
  const RunResult result = RunApp(app, "throw:boom");
  EXPECT_EQ(Shown(result), std::vector<std::string>{"Error: Error invoking method: main(java/lang/String[])"});
  EXPECT_EQ(result.exitCode, StatusMinusOne);
  // The VM prints the line's head (Exception in thread "main") through the launcher's vfprintf hook,
  // which keeps it for error reports, and the exception itself on System.err.
  EXPECT_TRUE(Has(Lines(result.output), "java.lang.IllegalStateException: boom")) << result.output;
}

TEST_F(JavaRoad, AMissingMainClassIsNamedInSlashForm) {
  const AppFolder app = MakeAppFolder("java-missing-class");
  const RunResult result = RunApp(app, "");
  EXPECT_EQ(Shown(result), std::vector<std::string>{"Error: Error locating class: corvane/test/NotThere"});
  EXPECT_EQ(result.exitCode, StatusMinusOne);
}

struct RuntimeFailure {
  const char* name;
  const char* scenario;
  Runtime runtime;
  const char* shown;
};

class JavaRoadRuntimeFailures : public JavaAppTest, public testing::WithParamInterface<RuntimeFailure> {};

TEST_P(JavaRoadRuntimeFailures, AreReportedWithTheRuntimePath) {
  const RuntimeFailure& failure = GetParam();
  const AppFolder app = MakeAppFolder(failure.scenario, failure.runtime);
  const RunResult result = RunApp(app, "print:never");
  EXPECT_EQ(Shown(result), std::vector<std::string>{std::string("Error: ") + failure.shown});
  EXPECT_EQ(result.exitCode, StatusMinusOne);
  EXPECT_FALSE(Has(Lines(result.output), "out never")) << result.output;
}

INSTANTIATE_TEST_SUITE_P(
    Runtimes, JavaRoadRuntimeFailures,
    testing::Values(
        RuntimeFailure{"NotADll", "java-app", Runtime::NotADll, "Unable to load JVM: jre\\bin\\server\\jvm.dll"},
        RuntimeFailure{"NoExports", "java-app", Runtime::NoExports,
                       "Unable to locate JNI interfaces in jre\\bin\\server\\jvm.dll"},
        RuntimeFailure{"OnlyCreateExported", "java-app", Runtime::HalfExports,
                       "Unable to locate JNI interfaces in jre\\bin\\server\\jvm.dll"},
        RuntimeFailure{"UnknownOption", "java-bad-option", Runtime::Fake,
                       "Unable to create JVM instance using jre\\bin\\server\\jvm.dll"}),
    [](const testing::TestParamInfo<RuntimeFailure>& info) { return std::string(info.param.name); });

TEST_F(JavaRoad, AClassPathFolderIsFollowedByItsArchives) {
  const AppFolder app = MakeAppFolder("java-class-folder", std::nullopt);
  // The working folder holds the runtime and the class path; the folder of the executable holds a
  // jre\bin\server\jvm.dll that is no DLL, which the loader must not take instead.
  const fs::path work = app.folder / "work";
  PutRuntime(work / "jre", Runtime::Fake);
  PutRuntime(app.folder / "jre", Runtime::NotADll);
  fs::create_directories(work / "lib" / "nested");
  fs::rename(app.folder / "scenario-app.jar", work / "lib" / "nested" / "scenario-app.jar");
  std::ofstream(work / "lib" / "notes.txt") << "not an archive";
  const RunResult result = RunApp(app, "prop:java.class.path prop:user.dir");
  EXPECT_TRUE(result.dialogs.empty()) << testing::PrintToString(Shown(result));
  EXPECT_EQ(result.exitCode, 0u);
  const std::vector<std::string> lines = Lines(result.output);
  EXPECT_TRUE(Has(lines, "prop java.class.path=lib;lib\\nested\\scenario-app.jar;missing.jar")) << result.output;
  EXPECT_TRUE(Has(lines, "prop user.dir=" + WindowsPath(work.string()))) << result.output;
}

TEST_F(JavaRoad, AwtComesOnlyFromTheRuntimesBinFolder) {
  const fs::path awt = fs::path(Win64BuildDir()) / "tests" / "fixtures" / "awt_marker" / "awt.dll";
  struct Case {
    const char* name;
    bool inBin;
    std::string expected;  // what the marker records
  };
  for (const Case& c : {Case{"beside-and-in-bin", true, "jre\\bin\\awt.dll"}, Case{"beside-only", false, ""}}) {
    const AppFolder app = MakeAppFolder("java-app");
    // A copy beside the executable is found first by a bare-name load; it must never be taken.
    fs::copy_file(awt, app.folder / "awt.dll");
    if (c.inBin) fs::copy_file(awt, app.folder / "jre" / "bin" / "awt.dll");
    const fs::path marker = app.folder / (std::string(c.name) + ".marker");
    RunOptions options;
    options.env["CORVANE_AWT_MARKER"] = WindowsPath(marker.string());
    const RunResult result = RunApp(app, "print:ran", options);
    EXPECT_EQ(result.exitCode, 0u) << c.name;
    const std::string loaded = ReadAll(marker);
    if (c.expected.empty()) {
      EXPECT_EQ(loaded, "") << c.name;
    } else {
      EXPECT_EQ(loaded, WindowsPath((app.folder / "jre" / "bin" / "awt.dll").string()) + "\r\n") << c.name;
    }
  }
}

TEST_F(JavaRoad, ASecondInstanceRunsMainOnItsAttachedThread) {
  const AppFolder app = MakeAppFolder("java-second-instance");
  RunOptions inFolder;
  inFolder.workDir = app.folder.string();
  auto first = Session().Start(Quote(app.launcher) + " sleep:8000", inFolder);
  // The first instance takes the instance mutex as it starts, long before its main ends.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const RunResult second = RunApp(app, "args throw:late");
  EXPECT_EQ(Lines(second.output),
            (std::vector<std::string>{"out second", "arg 0 [print:second]", "arg 1 [args]", "arg 2 [throw:late]",
                                      "java.lang.IllegalStateException: late"}))
      << second.output;
  EXPECT_EQ(Shown(second), std::vector<std::string>{"Error: Error invoking method: main(java/lang/String[])"});
  EXPECT_EQ(second.exitCode, StatusMinusOne);
  const RunResult firstResult = first->Wait(std::chrono::seconds(30));
  EXPECT_EQ(firstResult.exitCode, 0u);
}

TEST_F(JavaRoad, ARuntimeFromJavaHomeRunsTheApplication) {
  const AppFolder app = MakeAppFolder("java-registry", std::nullopt);
  const fs::path home = app.folder / "jdk";
  PutRuntime(home, Runtime::Fake);
  RunOptions options;
  options.env["JAVA_HOME"] = WindowsPath(home.string());
  const RunResult result = RunApp(app, "print:from-java-home", options);
  EXPECT_TRUE(result.dialogs.empty()) << testing::PrintToString(Shown(result));
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(Has(Lines(result.output), "out from-java-home")) << result.output;
}

TEST_F(JavaRoad, ARuntimeFromTheRegistryRunsTheApplication) {
  const AppFolder app = MakeAppFolder("java-registry", std::nullopt);
  const fs::path home = app.folder / "registry-jdk";
  PutRuntime(home, Runtime::Fake);
  const std::string key = "HKLM\\Software\\JavaSoft\\JRE\\17.0.9";
  ASSERT_EQ(Session().Run("reg add \"" + key + "\" /v RuntimeLib /d \"" +
                          WindowsPath((home / "bin" / "server" / "jvm.dll").string()) + "\" /f")
                .exitCode,
            0u);
  const RunResult result = RunApp(app, "print:from-the-registry");
  Session().Run("reg delete \"HKLM\\Software\\JavaSoft\\JRE\" /f");
  EXPECT_TRUE(result.dialogs.empty()) << testing::PrintToString(Shown(result));
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(Has(Lines(result.output), "out from-the-registry")) << result.output;
}

}  // namespace
