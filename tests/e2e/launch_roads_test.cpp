// The roads of the launch driver, end to end under Wine: what the user sees and the exit status.
// No Java runtime is installed in the test prefixes, so a normal launch ends in the report that none
// was found and status -1; the other roads end before it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using namespace corvane::test;
using namespace std::chrono_literals;

const std::string NoRuntime = "Unable to locate suitable Java Runtime (min 17) on this machine.";

std::string Stub() { return StubLauncher(); }
std::string Scenario(const std::string& name) { return ScenarioLauncher(name); }

class LaunchRoads : public WineTest {
 protected:
  RunResult Run(const std::string& commandLine) {
    RunOptions options;
    options.workDir = Session().FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name());
    return Session().Run(commandLine, options);
  }
};

// One dialog, with this title and this one text.
void ExpectOneDialog(const RunResult& result, const std::string& title, const std::string& text) {
  ASSERT_FALSE(result.timedOut);
  ASSERT_EQ(result.dialogs.size(), 1u);
  EXPECT_EQ(result.dialogs[0].title, title);
  EXPECT_EQ(result.dialogs[0].Texts("static"), std::vector<std::string>{text});
}

struct RoadCase {
  const char* name;
  std::string launcher;   // Windows path
  std::string arguments;  // as typed after the program
  std::string title;      // "" when no dialog may appear
  std::string text;
  uint32_t status;
};

class LaunchRoadTable : public LaunchRoads, public testing::WithParamInterface<RoadCase> {};

TEST_P(LaunchRoadTable, ShowsTheRightReportAndStatus) {
  const RoadCase& road = GetParam();
  const RunResult result = Run(Quote(road.launcher) + road.arguments);
  ASSERT_FALSE(result.timedOut);
  if (road.title.empty()) {
    EXPECT_TRUE(result.dialogs.empty());
  } else {
    ExpectOneDialog(result, road.title, road.text);
  }
  EXPECT_EQ(result.exitCode, road.status);
}

INSTANTIATE_TEST_SUITE_P(
    LaunchRoads, LaunchRoadTable,
    testing::Values(
        RoadCase{"NormalLaunchEndsWithoutARuntime", Stub(), " a b", "Error", NoRuntime, StatusMinusOne},
        // Without a service name the service switches are ordinary arguments.
        RoadCase{"InstallSwitchWithoutServiceNameIsAnArgument", Stub(), " -install", "Error", NoRuntime,
                 StatusMinusOne},
        RoadCase{"UninstallSwitchWithoutServiceNameIsAnArgument", Stub(), " -uninstall", "Error", NoRuntime,
                 StatusMinusOne},
        RoadCase{"SwitchesCompareWithLetterCase", Scenario("service-named"), " -INSTALL", "Error", NoRuntime,
                 StatusMinusOne},
        // Outside the Service Control Manager the dispatcher cannot start; in service mode that
        // report has nowhere to go.
        RoadCase{"ServiceSwitchOutsideTheServiceManagerEndsQuietly", Scenario("service-named"),
                 " -startlauncherinservicemode", "", "", 0},
        RoadCase{"ServiceOnlyRefusesAPlainStart", Scenario("service-only"), "", "Information",
                 "This program can only be run as a service.", 0},
        RoadCase{"ServiceOnlyRefusesOtherArguments", Scenario("service-only"), " -show file.txt", "Information",
                 "This program can only be run as a service.", 0},
        RoadCase{"ServiceOnlyWithoutServiceNameHasNoEffect", Scenario("service-only-unnamed"), "", "Error",
                 NoRuntime, StatusMinusOne},
        // The clean-up child takes exactly two arguments; with a third it is an ordinary start.
        RoadCase{"CleanupSwitchEndsAtOnce", Stub(), " -cvremovetemporaryjarfiles 4242", "", "", 0},
        RoadCase{"CleanupSwitchWithAThirdArgumentIsAnOrdinaryStart", Stub(),
                 " -cvremovetemporaryjarfiles 4242 extra", "Error", NoRuntime, StatusMinusOne},
        RoadCase{"CleanupSwitchAloneIsAnOrdinaryStart", Stub(), " -cvremovetemporaryjarfiles", "Error", NoRuntime,
                 StatusMinusOne}),
    [](const auto& info) { return std::string(info.param.name); });

// The service switches against the prefix's own Service Control Manager, in one sequence: each
// step depends on what the one before left installed. Every command ends with status 0.
TEST_F(LaunchRoads, TheServiceSwitchesInstallAndRemove) {
  Run(Quote(Scenario("service-named")) + " -uninstall");  // a left-over of an earlier run goes
  const std::string notInstalled = SystemText(Session(), 1060);  // ERROR_SERVICE_DOES_NOT_EXIST
  struct Step {
    std::string launcher, arguments, title, text;
  };
  const Step steps[] = {
      {Scenario("service-named"), " -install", "Information", "Service installed: Demo"},
      // A launcher that runs only as a service still takes the install command.
      {Scenario("service-only"), " -install", "Error", "Service is already installed: Demo"},
      // Without ServiceArgsFromCommandLine a further argument names nothing.
      {Scenario("service-named"), " -uninstall Other", "Information", "Service uninstalled: Demo"},
      {Scenario("service-named"), " -uninstall", "Error", notInstalled},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.arguments + " -> " + step.text);
    const RunResult result = Run(Quote(step.launcher) + step.arguments);
    ASSERT_EQ(result.dialogs.size(), 1u);
    EXPECT_EQ(result.dialogs[0].title, step.title);
    const std::vector<std::string> texts = result.dialogs[0].Texts("static");
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(WithoutLineEnd(texts[0]), step.text);
    EXPECT_EQ(result.exitCode, 0u);
  }
}

TEST_F(LaunchRoads, ASecondInstanceIsRefusedAndTheFirstLeftAlone) {
  RunOptions options;
  options.workDir = Session().FreshDir("single-instance");
  auto first = Session().Start(Quote(Stub()), options);
  // The first instance holds the mutex while its report is open.
  const Dialog held = first->WaitForDialog();
  EXPECT_EQ(held.Texts("static"), std::vector<std::string>{NoRuntime});

  const RunResult second = Session().Run(Quote(Stub()) + " file.txt", options);
  ExpectOneDialog(second, "Error", "An instance of this program is already running.");
  EXPECT_EQ(second.exitCode, 0u);

  EXPECT_TRUE(first->Running());
  first->Press("OK");
  const RunResult firstEnd = first->Wait(30s, "");
  EXPECT_FALSE(firstEnd.timedOut);
  EXPECT_EQ(firstEnd.dialogs.size(), 1u) << "the first instance was shown nothing more";
  EXPECT_EQ(firstEnd.exitCode, StatusMinusOne);

  // Once the first has ended, the next start runs normally.
  const RunResult third = Session().Run(Quote(Stub()), options);
  ExpectOneDialog(third, "Error", NoRuntime);
}

TEST_F(LaunchRoads, OfInstancesStartedTogetherExactlyOneRuns) {
  RunOptions options;
  options.workDir = Session().FreshDir("together");
  std::vector<std::unique_ptr<DrivenProcess>> processes;
  for (int i = 0; i < 3; ++i) processes.push_back(Session().Start(Quote(Stub()), options));
  int running = 0, refused = 0;
  for (auto& process : processes) {
    const std::vector<std::string> texts = process->WaitForDialog().Texts("static");
    running += texts == std::vector<std::string>{NoRuntime};
    refused += texts == std::vector<std::string>{"An instance of this program is already running."};
  }
  EXPECT_EQ(running, 1);
  EXPECT_EQ(refused, 2);
  for (auto& process : processes) {
    process->Press("OK");
    EXPECT_FALSE(process->Wait(30s, "").timedOut);
  }
}

TEST_F(LaunchRoads, ASecondInstanceWithSecondInstanceCallStartsItsOwnJvm) {
  RunOptions options;
  options.workDir = Session().FreshDir("second-instance-call");
  auto first = Session().Start(Quote(Scenario("second-instance")), options);
  first->WaitForDialog();
  // Not refused: it goes on to create a JVM of its own, which this build cannot, so it ends with -1.
  const RunResult second = Session().Run(Quote(Scenario("second-instance")) + " \"C:\\My Files\\a.txt\"", options);
  ExpectOneDialog(second, "Error", NoRuntime);
  EXPECT_EQ(second.exitCode, StatusMinusOne);
  first->Press("OK");
  EXPECT_EQ(first->Wait(30s, "").exitCode, StatusMinusOne);
}

}  // namespace
