// Where the application's output goes, end to end: log files (replaced or appended, folders made,
// variables expanded, one file shared), and captured output shown as the error dialog's details
// when main fails or the VM aborts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "java_app_support.h"

namespace {

using namespace corvane::test;
namespace fs = std::filesystem;

using JavaOutput = JavaAppTest;

constexpr int MessageControl = 1001;
constexpr int DetailsControl = 1002;

TEST_F(JavaOutput, LogFilesAreReplacedOrAppendedAsConfigured) {
  const AppFolder app = MakeAppFolder("java-logs");
  RunOptions options;
  options.env["CORVANE_TEST_VALUE"] = "expanded";
  for (int run = 0; run < 2; ++run) {
    const RunResult result = RunApp(app, "print:one eprint:two", options);
    EXPECT_TRUE(result.dialogs.empty()) << testing::PrintToString(Shown(result));
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_FALSE(Has(Lines(result.output), "out one")) << result.output;
  }
  // The folder of the variable was made; System.out started afresh, System.err added to its file.
  EXPECT_EQ(ReadAll(app.folder / "logs" / "expanded" / "out.log"), "out one\r\n");
  EXPECT_EQ(ReadAll(app.folder / "logs" / "err.log"), "err two\r\nerr two\r\n");
}

TEST_F(JavaOutput, OneLogFileKeepsBothStreamsInWriteOrder) {
  const AppFolder app = MakeAppFolder("java-one-log");
  std::ofstream(app.folder / "all.log") << "from an earlier run\r\n";
  const RunResult result = RunApp(app, "print:a eprint:b print:c");
  EXPECT_EQ(result.exitCode, 0u);
  // Opened once, with System.out's flag: replaced although System.err would append.
  EXPECT_EQ(ReadAll(app.folder / "all.log"), "out a\r\nerr b\r\nout c\r\n");
}

TEST_F(JavaOutput, ALogFileThatCannotBeOpenedEndsTheStart) {
  const AppFolder app = MakeAppFolder("java-log-is-folder");
  const RunResult result = RunApp(app, "print:never");
  EXPECT_EQ(Shown(result), std::vector<std::string>{"Error: Error instantiating object: java/io/FileOutputStream"});
  EXPECT_EQ(result.exitCode, StatusMinusOne);
  const std::vector<std::string> lines = Lines(result.output);
  EXPECT_FALSE(Has(lines, "out never"));
  // The constructor's exception went to System.err, still the process's own.
  EXPECT_NE(result.output.find("java.io.FileNotFoundException"), std::string::npos) << result.output;
}

TEST_F(JavaOutput, AnExceptionOutOfMainShowsTheCapturedOutputAsDetails) {
  const AppFolder app = MakeAppFolder("java-capture");
  const RunResult result = RunApp(app, "print:before eprint:warning throw:boom");
  ASSERT_EQ(result.dialogs.size(), 1u);
  const Dialog& dialog = result.dialogs[0];
  EXPECT_EQ(dialog.title, "Error");
  EXPECT_EQ(dialog.TextOf(MessageControl), "Error invoking method: main(java/lang/String[])");
  const std::vector<std::string> details = Lines(dialog.TextOf(DetailsControl));
  EXPECT_EQ(details, (std::vector<std::string>{"out before", "err warning",
                                               "Exception in thread \"main\" java.lang.IllegalStateException: boom"}))
      << dialog.TextOf(DetailsControl);
  EXPECT_EQ(result.exitCode, StatusMinusOne);
  // Captured output does not reach the process's own streams.
  EXPECT_FALSE(Has(Lines(result.output), "out before")) << result.output;
}

TEST_F(JavaOutput, CapturedOutputOfARunThatSucceedsIsNeverShown) {
  const AppFolder app = MakeAppFolder("java-capture");
  const RunResult result = RunApp(app, "print:quiet exit:4");
  EXPECT_TRUE(result.dialogs.empty());
  EXPECT_EQ(result.exitCode, 4u);
}

TEST_F(JavaOutput, AnAbortingVmShowsItsOwnMessages) {
  const AppFolder app = MakeAppFolder("java-capture-small-heap");
  const RunResult result = RunApp(app, "print:never");
  ASSERT_EQ(result.dialogs.size(), 1u);
  const Dialog& dialog = result.dialogs[0];
  EXPECT_EQ(dialog.TextOf(MessageControl), "JVM has aborted due to an internal error.");
  // The VM's messages came through the vfprintf hook, each LF made CR LF.
  EXPECT_EQ(dialog.TextOf(DetailsControl), "Error occurred during initialization of VM\r\nToo small maximum heap\r\n");
  EXPECT_EQ(result.exitCode, 3u);  // the C runtime's abort
}

TEST_F(JavaOutput, AnUnknownOptionIsReportedWithTheVmsReasonAsDetails) {
  // The launcher's hooks come before the configured options, so the VM's complaint goes through the
  // vfprintf hook into the captured output instead of the process's standard error.
  const AppFolder app = MakeAppFolder("java-capture-bad-option");
  const RunResult result = RunApp(app, "");
  ASSERT_EQ(result.dialogs.size(), 1u) << testing::PrintToString(Shown(result));
  const Dialog& dialog = result.dialogs[0];
  EXPECT_EQ(dialog.TextOf(MessageControl), "Unable to create JVM instance using jre\\bin\\server\\jvm.dll");
  EXPECT_EQ(dialog.TextOf(DetailsControl), "Unrecognized option: -Xfoo\r\n");
  EXPECT_EQ(result.exitCode, StatusMinusOne);
}

}  // namespace
