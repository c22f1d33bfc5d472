// The launch roads that end before Java: what the user sees and the exit status. No Java runtime is
// installed in the test prefixes, so a normal launch ends in the report that none was found and -1.
// And the Windows build of corvane-build writes the Linux build's bytes.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

using namespace corvane::test;

using LaunchRoads = WineTest;
using Reports = WineTest;
using Builder = WineTest;

// Three launchers with one instance mutex, started together: exactly one runs on to its report, the
// others are refused and end, and the one running is left alone. The service switches of a launcher
// without a service name, and ServiceOnly without one, are an ordinary start.
TEST_F(LaunchRoads, OfInstancesStartedTogetherExactlyOneRunsAndIsLeftAlone) {
  RunOptions options;
  options.workDir = Session().FreshDir("together");
  std::vector<std::unique_ptr<DrivenProcess>> processes;
  for (const std::string& start : {Quote(StubLauncher()) + " -install", Quote(StubLauncher()) + " -uninstall x",
                                   Quote(ScenarioLauncher("service-only-unnamed"))}) {
    processes.push_back(Session().Start(start, options));
  }
  std::vector<DrivenProcess*> running, refused;
  for (auto& process : processes) {
    const Dialog dialog = process->WaitForDialog();
    EXPECT_EQ(dialog.title, "Error");
    if (dialog.Texts("static") == Texts{NoRuntime}) running.push_back(process.get());
    if (dialog.Texts("static") == Texts{"An instance of this program is already running."}) refused.push_back(process.get());
  }
  ASSERT_TRUE(running.size() == 1u && refused.size() == 2u);
  for (DrivenProcess* process : refused) {
    process->Press("OK");
    const RunResult end = process->Wait();
    EXPECT_TRUE(!end.timedOut && end.exitCode == 0u);
  }
  EXPECT_TRUE(running[0]->Running());
  running[0]->Press("OK");
  const RunResult end = running[0]->Wait();
  EXPECT_EQ(end.dialogs.size(), 1u) << "the running instance was shown nothing more";
  EXPECT_EQ(end.exitCode, StatusMinusOne);
}

// A launcher that runs only as a service refuses a plain start (its message carries a line break);
// outside the service manager its service switch cannot start the dispatcher, and in service mode
// that report has nowhere to go.
TEST_F(LaunchRoads, AServiceOnlyLauncherRefusesAPlainStartAndItsServiceSwitchEndsQuietly) {
  const RunResult plain = Session().Run(Quote(ScenarioLauncher("service-only")));
  EXPECT_EQ(Shown(plain), Texts{"Information: This program can only\nbe run as a service."});
  EXPECT_EQ(plain.exitCode, 0u);
  const RunResult switched = Session().Run(Quote(ScenarioLauncher("service-only")) + " -startlauncherinservicemode");
  EXPECT_TRUE(!switched.timedOut && switched.dialogs.empty() && switched.exitCode == 0u)
      << testing::PrintToString(Shown(switched));
}

// The scrambled main class is too long to name the temporary folder: the report gives the system's
// text for "file name too long" (206) after a blank line, and the launch goes on.
TEST_F(Reports, AFailureWithAReasonShowsABlankLineAndTheSystemTextAndTheLaunchGoesOn) {
  const RunResult result = Session().Run(Quote(ScenarioLauncher("long-main-class")));
  const std::string reason = SystemText(206);
  EXPECT_FALSE(reason.empty());
  const Texts shown = Shown(result);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].substr(0, shown[0].find_last_not_of("\r\n") + 1),
            "Error: Error accessing file/directory: TEMP_PATH\n\nReason: " + reason);
  EXPECT_EQ(shown[1], "Error: " + NoRuntime);
  EXPECT_EQ(result.exitCode, StatusMinusOne);
}

// The branded scenario has everything: settings, messages, a translation, archives, icon, splash,
// version information and manifest options.
TEST_F(Builder, TheWindowsBuilderWritesTheSameBytesAsTheLinuxBuilder) {
  const std::string dir = Session().FreshDir("same-bytes");
  const std::string project = std::string(CORVANE_SOURCE_DIR) + "/tests/scenarios/branded.toml";
  const RunResult windows = Session().Run(Quote(WindowsPath(Win64BuildDir() + "/builder/corvane-build.exe")) + " build " +
                                          Quote(WindowsPath(project)) + " --stub " + Quote(StubLauncher()) + " -o " +
                                          Quote(WindowsPath(dir + "/windows.exe")));
  ASSERT_EQ(windows.exitCode, 0u) << windows.output;
  Build(project, dir + "/linux.exe");
  EXPECT_GT(ReadAll(dir + "/windows.exe").size(), 50000u);
  EXPECT_TRUE(ReadAll(dir + "/windows.exe") == ReadAll(dir + "/linux.exe")) << "the two launchers differ";
}

}  // namespace
