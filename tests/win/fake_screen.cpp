#include "fake_screen.h"

#include "ui/report_win.h"

std::vector<ScreenRecord>& ScreenRecords() {
  static std::vector<ScreenRecord> records;
  return records;
}

void ShowInfoBox(const char* text) { ScreenRecords().push_back({"info box", text, ""}); }
void ShowErrorBox(const char* text) { ScreenRecords().push_back({"error box", text, ""}); }
void RunErrorDialog(const char* details, const char* message) {
  ScreenRecords().push_back({"error dialog", message, details});
}
void WriteEventReport(int level, const char* text) {
  ScreenRecords().push_back({level == Information ? "info event" : "error event", text, ""});
}
