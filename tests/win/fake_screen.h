// Records what the launcher would have shown or written, in place of message boxes, the error dialog
// and the event log, so that the Windows-side tests can read it.
#pragma once

#include <string>
#include <vector>

struct ScreenRecord {
  std::string kind;     // "info box", "error box", "error dialog", "info event", "error event"
  std::string text;     // the box or event text, or the dialog's message
  std::string details;  // the dialog's details
};

std::vector<ScreenRecord>& ScreenRecords();
