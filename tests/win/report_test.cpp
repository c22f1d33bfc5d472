// The report sink and the reports that add the system's reason, with the screen and the event log
// replaced by recorders.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/process_state_win.h"
#include "fake_screen.h"
#include "ui/report_win.h"

namespace {

std::string SystemText(DWORD code) {
  char text[4000] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof(text), nullptr);
  return text;
}

class Reports : public testing::Test {
 protected:
  void SetUp() override {
    ScreenRecords().clear();
    errorReportsEnabled = true;
    ServiceMode = false;
  }
  void TearDown() override {
    errorReportsEnabled = true;
    ServiceMode = false;
  }
  const ScreenRecord& Only() {
    EXPECT_EQ(ScreenRecords().size(), 1u);
    static const ScreenRecord none{};
    return ScreenRecords().empty() ? none : ScreenRecords().back();
  }
};

TEST_F(Reports, LevelChoosesTheBox) {
  ReportMessage(Information, "i");
  ReportMessage(Error, "e");
  ReportMessage(2, "two");
  ASSERT_EQ(ScreenRecords().size(), 3u);
  EXPECT_EQ(ScreenRecords()[0].kind, "info box");
  EXPECT_EQ(ScreenRecords()[1].kind, "error box");
  EXPECT_EQ(ScreenRecords()[2].kind, "error box");
}

TEST_F(Reports, FinishedTextsAreShownLiterally) {
  ReportMessage(Error, "C:\\100% %s\\x");
  EXPECT_EQ(Only().text, "C:\\100% %s\\x");
}

TEST_F(Reports, FormattedReportsFillTheirArgument) {
  ReportInfo("Service installed: %s", "Demo");
  ReportError("Error locating class: %s", "java/lang/System");
  ASSERT_EQ(ScreenRecords().size(), 2u);
  EXPECT_EQ(ScreenRecords()[0].text, "Service installed: Demo");
  EXPECT_EQ(ScreenRecords()[0].kind, "info box");
  EXPECT_EQ(ScreenRecords()[1].text, "Error locating class: java/lang/System");
}

TEST_F(Reports, LongTextsAreCutToTheBuffer) {
  const std::string huge(20000, 'h');
  ReportError("%s", huge.c_str());
  EXPECT_EQ(Only().text, std::string(ReportTextCapacity - 1, 'h'));
}

TEST_F(Reports, LastErrorAddsABlankLineAndTheReason) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  ReportLastError("Internal error RC000015");
  EXPECT_EQ(Only().kind, "error box");
  EXPECT_EQ(Only().text, "Internal error RC000015\n\nReason: " + SystemText(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(SystemText(ERROR_FILE_NOT_FOUND).empty());
}

TEST_F(Reports, LastErrorFormatsTheMessageFirstButKeepsTheCode) {
  SetLastError(ERROR_ACCESS_DENIED);
  ReportLastError("Error accessing file/directory: %s", "C:\\x");
  EXPECT_EQ(Only().text, "Error accessing file/directory: C:\\x\n\nReason: " + SystemText(ERROR_ACCESS_DENIED));
}

TEST_F(Reports, LastErrorWithoutSystemTextHasAnEmptyReason) {
  SetLastError(0x2000FFFF);
  ReportLastError("message");
  EXPECT_EQ(Only().text, "message\n\nReason: ");
}

TEST_F(Reports, LastErrorCutsALongMessage) {
  const std::string huge(9000, 'm');
  SetLastError(ERROR_FILE_NOT_FOUND);
  ReportLastError("%s", huge.c_str());
  EXPECT_EQ(Only().text, std::string(4095, 'm') + "\n\nReason: " + SystemText(ERROR_FILE_NOT_FOUND));
}

TEST_F(Reports, LastErrorTextIsTheReasonAlone) {
  SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
  ReportLastErrorText();
  EXPECT_EQ(Only().text, SystemText(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(Reports, DisabledErrorReportsSayNothingButInformationAndTheDialogStillShow) {
  errorReportsEnabled = false;
  ReportError("lost");
  SetLastError(ERROR_FILE_NOT_FOUND);
  ReportLastError("lost too");
  ReportLastErrorText();
  EXPECT_TRUE(ScreenRecords().empty());
  ReportInfo("shown");
  ShowErrorDialog("details", "shown too");
  ASSERT_EQ(ScreenRecords().size(), 2u);
  EXPECT_EQ(ScreenRecords()[0].kind, "info box");
  EXPECT_EQ(ScreenRecords()[1].kind, "error dialog");
}

TEST_F(Reports, ServiceModeWritesEventsInsteadOfBoxes) {
  ServiceMode = true;
  ReportInfo("The %s service has started.", "Demo");
  ReportError("The %s service failed to start.", "Demo");
  SetLastError(ERROR_FILE_NOT_FOUND);
  ReportLastError("Internal error RC000004");
  ASSERT_EQ(ScreenRecords().size(), 3u);
  EXPECT_EQ(ScreenRecords()[0].kind, "info event");
  EXPECT_EQ(ScreenRecords()[0].text, "The Demo service has started.");
  EXPECT_EQ(ScreenRecords()[1].kind, "error event");
  EXPECT_EQ(ScreenRecords()[2].kind, "error event");
}

TEST_F(Reports, ErrorDialogShowsMessageAndDetailsOrWritesThemAsOneEvent) {
  ShowErrorDialog("line 1\r\nline 2", "Error invoking method: main(java/lang/String[])");
  EXPECT_EQ(Only().kind, "error dialog");
  EXPECT_EQ(Only().text, "Error invoking method: main(java/lang/String[])");
  EXPECT_EQ(Only().details, "line 1\r\nline 2");
  ScreenRecords().clear();
  ServiceMode = true;
  ShowErrorDialog("100% of it", "boom");
  EXPECT_EQ(Only().kind, "error event");
  EXPECT_EQ(Only().text, "boom\n\nDetails:\n100% of it");
}

}  // namespace
