// Where reports go (boxes, the error dialog, the event log in service mode), and captured output
// through a real pipe as the error dialog's details.
#include <gtest/gtest.h>

#include <cstdarg>
#include <functional>

#include "app/jvm_hooks.h"
#include "base/process_state_win.h"
#include "ui/captured_output_win.h"
#include "ui/report_win.h"
#include "../shared/win_support.h"

// The screen and the event log of these tests: they record.
void ShowInfoBox(const char* text) { ScreenRecords().push_back({"info box", text, ""}); }
void ShowErrorBox(const char* text) { ScreenRecords().push_back({"error box", text, ""}); }
void RunErrorDialog(const char* details, const char* message) { ScreenRecords().push_back({"error dialog", message, details}); }
void WriteConsoleReport(const char* title, const char* text) { ScreenRecords().push_back({std::string("stderr ") + title, text, ""}); }
void WriteEventReport(int level, const char* text) {
  ScreenRecords().push_back({level == Information ? "info event" : "error event", text, ""});
}

namespace {

using namespace corvane::test;
using Records = std::vector<ScreenRecord>;

std::string SystemText(DWORD code) {
  char text[4000] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, sizeof(text), nullptr);
  return text;
}

TEST(Reports, GoWhereTheUserSeesThem) {
  const std::string notFound = SystemText(ERROR_FILE_NOT_FOUND);
  const struct {
    bool serviceMode, consoleMode, errorsEnabled;
    std::function<void()> report;
    Records shown;
  } cases[] = {
      {false, false, true, [] { ReportMessage(Information, "i"), ReportMessage(2, "C:\\100% %s"); },  // finished texts are literal
       {{"info box", "i", ""}, {"error box", "C:\\100% %s", ""}}},
      {false, false, true, [] { ReportInfo("Installed: %s", "Demo"), ReportError("%s", std::string(20000, 'h').c_str()); },
       {{"info box", "Installed: Demo", ""}, {"error box", std::string(ReportTextCapacity - 1, 'h'), ""}}},
      {false, false, true, [] {
         SetLastError(ERROR_FILE_NOT_FOUND), ReportLastError("At %s", "C:\\x"), SetLastError(0x2000FFFF), ReportLastError("unknown");
         SetLastError(ERROR_FILE_NOT_FOUND), ReportLastError("%s", std::string(9000, 'm').c_str());
         SetLastError(ERROR_ACCESS_DENIED), ReportLastErrorText(); },
       {{"error box", "At C:\\x\n\nReason: " + notFound, ""}, {"error box", "unknown\n\nReason: ", ""},
        {"error box", std::string(4095, 'm') + "\n\nReason: " + notFound, ""}, {"error box", SystemText(ERROR_ACCESS_DENIED), ""}}},
      {false, false, false, [] {  // errors turned off: lost, but information and the dialog still show
         ReportError("lost"), SetLastError(2), ReportLastError("lost"), ReportLastErrorText();
         ReportInfo("shown"), ShowErrorDialog("line 1\r\nline 2", "shown too"); },
       {{"info box", "shown", ""}, {"error dialog", "shown too", "line 1\r\nline 2"}}},
      {false, true, true, [] { ReportInfo("Installed"), ReportMessage(2, "x"), ShowErrorDialog("out\r\nerr", "boom"); },
       {{"stderr Information", "Installed", ""}, {"stderr Error", "x", ""}, {"stderr Error", "boom\n\nDetails:\nout\r\nerr", ""}}},
      {true, true, true, [] {  // a console launcher run as a service
         ReportInfo("The %s service has started.", "Demo"), SetLastError(2), ReportLastError("RC000004");
         ShowErrorDialog("100% of it", "boom"); },
       {{"info event", "The Demo service has started.", ""}, {"error event", "RC000004\n\nReason: " + notFound, ""},
        {"error event", "boom\n\nDetails:\n100% of it", ""}}}};
  for (const auto& c : cases) {
    ScreenRecords().clear();
    ServiceMode = c.serviceMode;
    ConsoleMode = c.consoleMode;
    errorReportsEnabled = c.errorsEnabled;
    c.report();
    ServiceMode = ConsoleMode = false;
    errorReportsEnabled = true;
    EXPECT_EQ(ScreenRecords(), c.shown);
  }
}
jint CallVmHook(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const jint result = VfprintfHook(stderr, format, arguments);
  va_end(arguments);
  return result;
}

// What a report with output shows now (it empties the capture).
ScreenRecord ReportWithOutput(const char* argument = "main") {
  ScreenRecords().clear();
  ReportErrorWithOutput("Error invoking method: %s", argument);
  return ScreenRecords().size() == 1 ? ScreenRecords()[0] : ScreenRecord{"not one record"};
}

TEST(Reports, CapturedOutputBecomesTheDetails) {
  const int32_t savedOut = std::exchange(EditLaunchConfig().StdOutMode, StreamNone);
  const int32_t savedErr = std::exchange(EditLaunchConfig().StdErrMode, StreamCapture);
  ReportWithOutput();
  ScreenRecords().clear();
  char name[32];
  ASSERT_TRUE(CreateCapturePipe(name, sizeof(name)));
  EXPECT_EQ(std::string(name), "\\\\.\\pipe\\" + std::to_string(GetCurrentProcessId()));
  // Whoever creates the name first owns it: no later server instance joins it.
  EXPECT_EQ(CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX, 0, 255, 0, 0, 0, nullptr), INVALID_HANDLE_VALUE);
  HANDLE client = CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_TRUE(StartCaptureReader());
  const std::string written = "Exception \"main\"\r\n\tat App.main\r\n" + std::string(1500, 'x') + "\r\nno line end";
  DWORD count = 0;
  ASSERT_TRUE(WriteFile(client, written.data(), (DWORD)written.size(), &count, nullptr));
  CloseHandle(client);  // the application's end closing is a normal end: no report of its own
  WaitForSingleObject(captureReader->Get(), 10000);
  EXPECT_EQ(ScreenRecords(), Records{});
  EXPECT_EQ(ReportWithOutput("100%s%d"), (ScreenRecord{"error dialog", "Error invoking method: 100%s%d", written}));
  EXPECT_FALSE(capturePipe->Valid());
  CallVmHook("%s", "two\nlines\n");  // the VM's messages get CR LF line ends
  EXPECT_EQ(ReportWithOutput().details, "two\r\nlines\r\n");
  CallVmHook("%s", std::string(5000, 'v').c_str());  // and are cut to their buffer
  EXPECT_EQ(ReportWithOutput().details, std::string(4095, 'v'));
  EXPECT_EQ(CallVmHook("%d-%s", 42, "x"), 4);
  EditLaunchConfig().StdErrMode = StreamNone;  // nothing captured: a plain box
  EXPECT_EQ(ReportWithOutput(), (ScreenRecord{"error box", "Error invoking method: main", ""}));
  StopCapture();
  EditLaunchConfig().StdOutMode = savedOut;
  EditLaunchConfig().StdErrMode = savedErr;
}

}  // namespace
