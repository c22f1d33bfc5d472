// Captured output under Wine: the capture pipe with a real client, its reader, the VM message hook
// and the report that shows what was captured as the error dialog's details.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "app/jvm_hooks.h"
#include "base/launch_config.h"
#include "base/process_state_win.h"
#include "fake_screen.h"
#include "ui/captured_output_win.h"
#include "ui/report_win.h"

namespace {

jint CallVmHook(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const jint result = VfprintfHook(stderr, format, arguments);
  va_end(arguments);
  return result;
}

class CapturedOutput : public testing::Test {
 protected:
  void SetUp() override {
    savedOut_ = EditLaunchConfig().StdOutMode;
    savedErr_ = EditLaunchConfig().StdErrMode;
    EditLaunchConfig().StdOutMode = StreamNone;
    EditLaunchConfig().StdErrMode = StreamCapture;
    ServiceMode = false;
    EmptyRing();
  }
  void TearDown() override {
    if (client_ != INVALID_HANDLE_VALUE) CloseHandle(client_);
    StopCapture();
    EditLaunchConfig().StdOutMode = savedOut_;
    EditLaunchConfig().StdErrMode = savedErr_;
    ScreenRecords().clear();
  }
  // A report with output empties the ring; its record is dropped.
  static void EmptyRing() {
    ReportErrorWithOutput("empty");
    ScreenRecords().clear();
  }
  // The pipe, its reader and the application's end of it, as the streams would open it.
  void Capture() {
    char name[32];
    ASSERT_TRUE(CreateCapturePipe(name, sizeof(name)));
    EXPECT_EQ(std::string(name), "\\\\.\\pipe\\" + std::to_string(GetCurrentProcessId()));
    client_ = CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(client_, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_TRUE(StartCaptureReader());
  }
  void Write(const std::string& bytes) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(client_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
  }
  // What a report with output shows now.
  static ScreenRecord Report() {
    ScreenRecords().clear();
    ReportErrorWithOutput("Error invoking method: %s", "main(java/lang/String[])");
    EXPECT_EQ(ScreenRecords().size(), 1u);
    return ScreenRecords().empty() ? ScreenRecord{} : ScreenRecords()[0];
  }

  HANDLE client_ = INVALID_HANDLE_VALUE;
  int32_t savedOut_ = 0, savedErr_ = 0;
};

TEST_F(CapturedOutput, WhatTheApplicationWroteBecomesTheDetails) {
  Capture();
  Write("Exception in thread \"main\" java.lang.IllegalStateException: boom\r\n");
  Write("\tat corvane.test.ScenarioApp.main(ScenarioApp.java)\r\n");
  const ScreenRecord shown = Report();
  EXPECT_EQ(shown.kind, "error dialog");
  EXPECT_EQ(shown.text, "Error invoking method: main(java/lang/String[])");
  EXPECT_EQ(shown.details,
            "Exception in thread \"main\" java.lang.IllegalStateException: boom\r\n"
            "\tat corvane.test.ScenarioApp.main(ScenarioApp.java)\r\n");
  EXPECT_FALSE(capturePipe->Valid());  // closed by the report, and its reader ended
  EXPECT_FALSE(captureReader->Valid());
}

TEST_F(CapturedOutput, ALastLineWithoutALineEndIsNotLost) {
  Capture();
  Write("first\r\nlast words without a line end");
  EXPECT_EQ(Report().details, "first\r\nlast words without a line end");
}

TEST_F(CapturedOutput, ALongLineArrivesWhole) {
  Capture();
  const std::string line = std::string(1500, 'x') + "\r\n";
  Write(line);
  EXPECT_EQ(Report().details, line);
}

TEST_F(CapturedOutput, ClosingTheApplicationsEndIsANormalEnd) {
  Capture();
  Write("before the close\n");
  CloseHandle(client_);
  client_ = INVALID_HANDLE_VALUE;
  WaitForSingleObject(captureReader->Get(), 10000);
  // No "Internal error RC0000050": the reader ended quietly, and its line is kept.
  EXPECT_TRUE(ScreenRecords().empty());
  EXPECT_EQ(Report().details, "before the close\n");
}

TEST_F(CapturedOutput, ASecondPipeOfTheSameNameIsRefused) {
  Capture();
  // Whoever creates the name first owns it; a later server instance cannot join it.
  HANDLE intruder = CreateNamedPipeA(("\\\\.\\pipe\\" + std::to_string(GetCurrentProcessId())).c_str(),
                                     PIPE_ACCESS_DUPLEX, 0, 255, 0, 0, 0, nullptr);
  EXPECT_EQ(intruder, INVALID_HANDLE_VALUE);
  if (intruder != INVALID_HANDLE_VALUE) CloseHandle(intruder);
}

TEST_F(CapturedOutput, VmMessagesGetCrLfAndAreCut) {
  struct Case {
    std::string message;
    std::string kept;
  };
  const Case cases[] = {
      {"Unrecognized option: -Xfoo\n", "Unrecognized option: -Xfoo\r\n"},
      {"two\nlines\n", "two\r\nlines\r\n"},
      {std::string(5000, 'v'), std::string(4095, 'v')},
      {std::string(4094, 'w') + "\n\n", std::string(4094, 'w') + "\r\n"},
  };
  for (const Case& c : cases) {
    CallVmHook("%s", c.message.c_str());
    EXPECT_EQ(Report().details, c.kept) << c.message.substr(0, 40);
  }
  EXPECT_EQ(CallVmHook("%d-%s", 42, "x"), 4);
}

TEST_F(CapturedOutput, WithoutAnyCapturedStreamTheReportIsPlain) {
  CallVmHook("a VM message\n");
  EditLaunchConfig().StdErrMode = StreamNone;
  const ScreenRecord shown = Report();
  EXPECT_EQ(shown.kind, "error box");
  EXPECT_EQ(shown.details, "");
}

TEST_F(CapturedOutput, PercentSignsInTheMessageAreText) {
  CallVmHook("details\n");
  ScreenRecords().clear();
  ReportErrorWithOutput("Error locating class: %s", "100%s%d");
  ASSERT_EQ(ScreenRecords().size(), 1u);
  EXPECT_EQ(ScreenRecords()[0].text, "Error locating class: 100%s%d");
}

TEST_F(CapturedOutput, AnOverlongMessageIsCut) {
  ScreenRecords().clear();
  const std::string huge(10000, 'm');
  ReportErrorWithOutput("%s", huge.c_str());
  ASSERT_EQ(ScreenRecords().size(), 1u);
  EXPECT_EQ(ScreenRecords()[0].text, std::string(ReportTextCapacity - 1, 'm'));
}

}  // namespace
