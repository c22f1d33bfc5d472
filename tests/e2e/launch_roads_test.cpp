// The launch roads that end before Java, end to end under Wine: what the user sees and the exit
// status. No Java runtime is installed in the test prefixes, so a normal launch ends in the report
// that none was found and status -1. And the Windows build of corvane-build writes the Linux build's
// bytes.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

using namespace corvane::test;

using LaunchRoads = WineTest;
using Reports = WineTest;
using Builder = WineTest;

// Three launchers with one instance mutex (the stub's main class), started together: exactly one
// runs on to its report, the others are refused and end, and the one running is left alone. The
// service switches of a launcher without a service name, and ServiceOnly without one, are nothing:
// each of them is an ordinary start.
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
    const std::vector<std::string> texts = dialog.Texts("static");
    if (texts == std::vector<std::string>{NoRuntime}) running.push_back(process.get());
    if (texts == std::vector<std::string>{"An instance of this program is already running."}) {
      refused.push_back(process.get());
    }
  }
  ASSERT_EQ(running.size(), 1u);
  ASSERT_EQ(refused.size(), 2u);
  for (DrivenProcess* process : refused) {
    process->Press("OK");
    const RunResult end = process->Wait();
    EXPECT_FALSE(end.timedOut);
    EXPECT_EQ(end.exitCode, 0u);
  }
  EXPECT_TRUE(running[0]->Running());
  running[0]->Press("OK");
  const RunResult end = running[0]->Wait();
  EXPECT_EQ(end.dialogs.size(), 1u) << "the running instance was shown nothing more";
  EXPECT_EQ(end.exitCode, StatusMinusOne);
}

// A launcher that runs only as a service refuses a plain start (its message carries a line break);
// outside the service manager the service switch cannot start the dispatcher, and in service mode
// that report has nowhere to go.
TEST_F(LaunchRoads, AServiceOnlyLauncherRefusesAPlainStartAndItsServiceSwitchEndsQuietly) {
  const RunResult plain = Session().Run(Quote(ScenarioLauncher("service-only")));
  ASSERT_EQ(plain.dialogs.size(), 1u);
  EXPECT_EQ(plain.dialogs[0].title, "Information");
  EXPECT_EQ(plain.dialogs[0].Texts("static"), std::vector<std::string>{"This program can only\nbe run as a service."});
  EXPECT_EQ(plain.exitCode, 0u);
  const RunResult switched = Session().Run(Quote(ScenarioLauncher("service-only")) + " -startlauncherinservicemode");
  EXPECT_FALSE(switched.timedOut);
  EXPECT_TRUE(switched.dialogs.empty()) << testing::PrintToString(Shown(switched));
  EXPECT_EQ(switched.exitCode, 0u);
}

TEST_F(Reports, AFailureWithAReasonShowsABlankLineAndTheSystemTextAndTheLaunchGoesOn) {
  // The scrambled main class is too long to name the temporary folder: the launcher says so with the
  // system's text for "file name too long" (206), and goes on.
  const RunResult result = Session().Run(Quote(ScenarioLauncher("long-main-class")));
  ASSERT_EQ(result.dialogs.size(), 2u);
  EXPECT_EQ(result.dialogs[0].title, "Error");
  const std::string reason = SystemText(206);
  EXPECT_FALSE(reason.empty());
  const std::vector<std::string> texts = result.dialogs[0].Texts("static");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].substr(0, texts[0].find_last_not_of("\r\n") + 1),
            "Error accessing file/directory: TEMP_PATH\n\nReason: " + reason);
  EXPECT_EQ(result.dialogs[1].Texts("static"), std::vector<std::string>{NoRuntime});
  EXPECT_EQ(result.exitCode, StatusMinusOne);
}

TEST_F(Builder, TheWindowsBuilderWritesTheSameBytesAsTheLinuxBuilder) {
  const std::string dir = Session().FreshDir("same-bytes");
  // The branded scenario has everything: settings, messages, a translation, archives, icon, splash,
  // version information and manifest options.
  const std::string project = std::string(CORVANE_SOURCE_DIR) + "/tests/scenarios/branded.toml";
  const RunResult windows = Session().Run(Quote(WindowsPath(Win64BuildDir() + "/builder/corvane-build.exe")) +
                                          " build " + Quote(WindowsPath(project)) + " --stub " + Quote(StubLauncher()) +
                                          " -o " + Quote(WindowsPath(dir + "/windows.exe")));
  ASSERT_EQ(windows.exitCode, 0u) << windows.output;
  Build(project, dir + "/linux.exe");
  const std::string bytes = ReadAll(dir + "/windows.exe");
  EXPECT_GT(bytes.size(), 50000u);
  EXPECT_TRUE(bytes == ReadAll(dir + "/linux.exe")) << "the two launchers differ";
}

}  // namespace
