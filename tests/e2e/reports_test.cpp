// What the reports look like in real message boxes under Wine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using namespace corvane::test;

using Reports = WineTest;


TEST_F(Reports, ABackslashNInAMessageIsALineBreakInTheBox) {
  const RunResult result = Session().Run(Quote(ScenarioLauncher("message-line-break")));
  ASSERT_EQ(result.dialogs.size(), 1u);
  EXPECT_EQ(result.dialogs[0].title, "Information");
  EXPECT_EQ(result.dialogs[0].Texts("static"),
            std::vector<std::string>{"This program can only\nbe run as a service."});
  EXPECT_EQ(result.exitCode, 0u);
}

TEST_F(Reports, AFailureWithAReasonShowsABlankLineAndTheSystemText) {
  // The scrambled main class is too long to name the temporary directory: the launcher says so with
  // the system's text for "file name too long" (206), and goes on.
  const RunResult result = Session().Run(Quote(ScenarioLauncher("long-main-class")));
  ASSERT_GE(result.dialogs.size(), 1u);
  const std::string prefix = "Error accessing file/directory: TEMP_PATH\n\nReason: ";
  const std::vector<std::string> texts = result.dialogs[0].Texts("static");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(result.dialogs[0].title, "Error");
  ASSERT_EQ(texts[0].rfind(prefix, 0), 0u) << texts[0];
  const std::string reason = texts[0].substr(prefix.size());
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(WithoutLineEnd(reason), SystemText(Session(), 206));
  // The launch went on to the next step.
  ASSERT_EQ(result.dialogs.size(), 2u);
  EXPECT_EQ(result.dialogs[1].Texts("static"),
            std::vector<std::string>{"Unable to locate suitable Java Runtime (min 17) on this machine."});
}

TEST_F(Reports, ATemporaryPathTooLongForItsBufferIsReportedNotCut) {
  const std::string longTemp = "C:\\" + std::string(300, 't');
  ASSERT_EQ(Session().Run("reg add HKCU\\Environment /v TMP /t REG_SZ /d " + longTemp + " /f").exitCode, 0u);
  ASSERT_EQ(Session().Run("reg add HKCU\\Environment /v TEMP /t REG_SZ /d " + longTemp + " /f").exitCode, 0u);
  const RunResult result = Session().Run(Quote(StubLauncher()));
  Session().Run("reg delete HKCU\\Environment /v TMP /f");
  Session().Run("reg delete HKCU\\Environment /v TEMP /f");
  ASSERT_GE(result.dialogs.size(), 1u);
  const std::vector<std::string> texts = result.dialogs[0].Texts("static");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].rfind("Error accessing file/directory: TEMP_PATH\n\nReason: ", 0), 0u) << texts[0];
}

}  // namespace

namespace {

std::string ErrorDialogFixture() { return FixtureProgram("cverrordialog"); }

TEST_F(Reports, TheErrorDialogShowsTheMessageAboveTheDetails) {
  const RunResult result = Session().Run(Quote(ErrorDialogFixture()) +
                                         " \"Error invoking method: main(java/lang/String[])\""
                                         " \"Exception in thread|  at Main.main(Main.java:3)|\"");
  ASSERT_FALSE(result.timedOut);
  ASSERT_EQ(result.dialogs.size(), 1u);
  const Dialog& dialog = result.dialogs[0];
  EXPECT_EQ(dialog.title, "Error");
  // The message is painted in place of the hidden area, which keeps it as its text.
  EXPECT_EQ(dialog.TextOf(1001), "Error invoking method: main(java/lang/String[])");
  EXPECT_EQ(dialog.TextOf(1002), "Exception in thread\r\n  at Main.main(Main.java:3)\r\n");
  EXPECT_EQ(dialog.Texts("static"),
            (std::vector<std::string>{"Error invoking method: main(java/lang/String[])", "Details:"}));
  EXPECT_EQ(dialog.Texts("button"), std::vector<std::string>{"OK"});
  for (const Control& control : dialog.controls) {
    EXPECT_EQ(control.visible, control.id != 1001) << control.id;
  }
  // Pressing OK ends the dialog and leaves no dialog window behind.
  EXPECT_EQ(result.exitCode, 0u);
}

TEST_F(Reports, AMessageWithAPercentSignIsShownAsItIs) {
  const RunResult result =
      Session().Run(Quote(ErrorDialogFixture()) + " \"Error locating class: 100%s %d done\" \"\"");
  ASSERT_EQ(result.dialogs.size(), 1u);
  EXPECT_EQ(result.dialogs[0].TextOf(1001), "Error locating class: 100%s %d done");
  EXPECT_EQ(result.dialogs[0].TextOf(1002), "");
}

}  // namespace

namespace {

// OK, Enter, Escape and the close command all end the dialog and leave no dialog window behind.
class ErrorDialogEnding : public WineTest, public testing::WithParamInterface<const char*> {};

TEST_P(ErrorDialogEnding, EndsTheDialog) {
  auto process = Session().Start(Quote(FixtureProgram("cverrordialog")) + " \"Unable to load JVM: x\" \"y\"");
  const Dialog dialog = process->WaitForDialog();
  ASSERT_EQ(dialog.title, "Error");
  const std::string way = GetParam();
  if (way == "ok") {
    process->Press("OK");
  } else if (way == "close") {
    process->Close();
  } else {
    process->Key(way);
  }
  const RunResult result = process->Wait(std::chrono::seconds(20), "");
  EXPECT_FALSE(result.timedOut) << "the dialog stayed open";
  EXPECT_EQ(result.dialogs.size(), 1u);
  EXPECT_EQ(result.exitCode, 0u);
}

INSTANTIATE_TEST_SUITE_P(Reports, ErrorDialogEnding, testing::Values("ok", "enter", "escape", "close"));

}  // namespace
