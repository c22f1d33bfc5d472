// The Application event log, through the source the service runtime registered.
#include "base/process_state_win.h"
#include "ui/report_win.h"

namespace {
// Message-id layout: severity informational/error, facility 0x0FFF, codes 1 and 2.
constexpr DWORD InformationEventId = 0x4FFF0001;
constexpr DWORD ErrorEventId = 0xCFFF0002;
}  // namespace

void WriteEventReport(int level, const char* text) {
  // Before the source is registered, or after it was deregistered, the report is lost.
  HANDLE source = EventSource;
  if (source == nullptr) return;
  const bool information = level == Information;
  LPCSTR strings[1] = {text};
  ReportEventA(source, information ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE, 0,
               information ? InformationEventId : ErrorEventId, nullptr, 1, 0, strings, nullptr);
}
