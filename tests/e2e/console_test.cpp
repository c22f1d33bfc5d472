// A console launcher (corvane-build's `[launcher] console = true`) run from Wine's cmd: it reads and
// writes the handles it was given, so it works in pipes and with redirections, ends with the
// application's status, and says what went wrong on standard error, never in a window.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

using namespace corvane::test;

using ConsoleLauncher = WineTest;

TEST_F(ConsoleLauncher, PipesAndRedirectionsReachTheApplicationAndItsExitStatusEndsTheProcess) {
  const AppFolder app = MakeAppFolder("console");
  std::ofstream(app.folder / "in.txt") << "alpha\r\nbeta\r\n";
  // Input from a file, output into another program (find keeps the lines holding "in").
  const RunResult filtered = Session().Run("cmd /c \"" + Quote(app.launcher) + " stdin print:end < in.txt | find \"in\"\"",
                                           {.workDir = app.folder.string()});
  EXPECT_TRUE(filtered.dialogs.empty()) << testing::PrintToString(Shown(filtered));
  EXPECT_EQ(Lines(filtered.output), (Texts{"in alpha", "in beta"})) << filtered.output;
  // Input from another program, output into a file; cmd ends with the status of System.exit.
  const RunResult written = Session().Run("cmd /c \"type in.txt | " + Quote(app.launcher) + " stdin exit:3 > out.txt\"",
                                          {.workDir = app.folder.string()});
  EXPECT_TRUE(written.dialogs.empty() && written.exitCode == 3u) << written.exitCode << written.output;
  EXPECT_EQ(Lines(ReadAll(app.folder / "out.txt")), (Texts{"in alpha", "in beta", "exit 3"}));
}

// The reports a window would show are lines on standard error: no runtime (status -1), and a start
// refused because an instance already runs (status 0): one that would hand its arguments over, but
// that instance takes none. The first instance is left alone. A start that is taken prints nothing.
TEST_F(ConsoleLauncher, ReportsAreLinesOnStandardErrorAndNoWindowOpens) {
  const RunResult missing = RunApp(MakeAppFolder("console", std::nullopt, "no-runtime"), "print:never");
  EXPECT_TRUE(missing.dialogs.empty()) << testing::PrintToString(Shown(missing));
  EXPECT_EQ(Lines(missing.output), Texts{"Error: " + NoRuntime}) << missing.output;
  EXPECT_EQ(missing.exitCode, StatusMinusOne);

  // A start that an instance takes ends with 0 and says nothing; the instance gets its arguments.
  const AppFolder taking = MakeAppFolder("console", "", "taking");
  auto running = StartApp(taking, "wait-stop:60000", {.env = {{"CORVANE_TRACE", "trace.txt"}}});
  ASSERT_TRUE(WaitUntil([&] { return ReadAll(taking.folder / "trace.txt").find("answered on") != std::string::npos; }));
  const RunResult handed = Session().Run(taking.Command("stop"), {.workDir = taking.folder.string()});
  EXPECT_TRUE(handed.dialogs.empty() && handed.output.empty() && handed.exitCode == 0u) << handed.output;
  EXPECT_EQ(Lines(running->Wait().output),
            (Texts{"second start in " + WindowsPath(taking.folder.string()), "stop requested", "stopped"}));

  auto first = StartApp(MakeAppFolder("java-second-instance", std::nullopt, "first"), "");
  EXPECT_EQ(first->WaitForDialog().Texts("static"), Texts{NoRuntime});
  const RunResult refused = RunApp(MakeAppFolder("console", "", "second"), "print:never");
  EXPECT_TRUE(refused.dialogs.empty()) << testing::PrintToString(Shown(refused));
  EXPECT_EQ(Lines(refused.output), Texts{"Error: An instance of this program is already running."}) << refused.output;
  EXPECT_EQ(refused.exitCode, 0u);
  EXPECT_TRUE(first->Running());
  first->Press("OK");
  EXPECT_EQ(first->Wait().exitCode, StatusMinusOne);
}

}  // namespace
