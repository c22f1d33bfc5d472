// The harness's smoke run: what the end-to-end tests rely on, with cvsmoke.exe under Wine: exact
// dialog texts, the pressed button, the 32-bit exit status, the output, the working folder, the
// command line unchanged, a clean environment, a held dialog answered when told, a time-out kill.
#include <gtest/gtest.h>

#include "wine_harness.h"

namespace {

using namespace corvane::test;
using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

TEST(WineHarness, SmokeRun) {
  setenv("JAVA_HOME", "/opt/host-jdk", 1);  // the machine's environment must not reach the program
  WineSession session("wine-harness");
  const std::string smoke = Quote(WindowsPath(Win64BuildDir() + "/tests/wine/cvsmoke.exe"));

  RunOptions options;
  options.workDir = session.FreshDir("smoke/work dir");
  options.env["CVSMOKE_VALUE"] = "Grüße = 100%";
  const std::string text = "first line\nsecond \"line\" \\ ü";
  const std::string commandLine = smoke + " -1  " + Quote("Smoke title") + " " + Quote(text) + " \"\"";
  const RunResult run = session.Run(commandLine, options);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 4294967295u);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0].title, "Smoke title");
  EXPECT_EQ(run.dialogs[0].Texts("static"), Texts{text});
  EXPECT_EQ(run.dialogs[0].Texts("button"), Texts{"OK"});
  EXPECT_EQ(run.output, "cmdline=" + commandLine + "\ncwd=" + WindowsPath(options.workDir) +
                            "\nCVSMOKE_VALUE=Grüße = 100%\nJAVA_HOME unset\nCVDRIVER_COMMAND unset\n");

  auto held = session.Start(smoke + " 7 Held box");
  EXPECT_EQ(held->WaitForDialog().title, "Held");
  EXPECT_TRUE(held->Running()) << "the dialog was answered before it was told";
  held->Press("OK");
  const RunResult end = held->Wait(20s, "");
  EXPECT_FALSE(end.timedOut);
  EXPECT_EQ(end.exitCode, 7u);
  EXPECT_EQ(end.dialogs.size(), 1u);

  RunOptions bounded;
  bounded.timeout = 3s;
  const RunResult hung = session.Run(smoke + " hang", bounded);
  EXPECT_TRUE(hung.timedOut);
  EXPECT_EQ(hung.exitCode, 258u);
}

}  // namespace
