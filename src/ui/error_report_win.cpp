// Reports that add the system's explanation of the last Windows error, and the error report with
// details, which goes to the event log in service mode.
#include <cstdlib>
#include <cstring>

#include "base/process_state_win.h"
#include "base/trace.h"
#include "ui/report_win.h"

namespace {

constexpr DWORD SystemTextFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
constexpr DWORD UserDefaultLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

// The system's text for an error code, with its own line end; "" when the system has none.
void SystemText(DWORD code, char* out, DWORD capacity) {
  if (FormatMessageA(SystemTextFlags, nullptr, code, UserDefaultLanguage, out, capacity, nullptr) == 0) {
    out[0] = '\0';
  }
  out[capacity - 1] = '\0';
}

}  // namespace

void ReportLastError(const char* format, ...) {
  if (!errorReportsEnabled) return;
  const DWORD code = GetLastError();
  char reason[4000];
  SystemText(code, reason, sizeof(reason));
  char message[4096];
  va_list arguments;
  va_start(arguments, format);
  FormatTextV(message, sizeof(message), format, arguments);
  va_end(arguments);
  char text[ReportTextCapacity];
  FormatText(text, sizeof(text), "%s\n\nReason: %s", message, reason);
  ReportMessage(Error, text);
}

void ReportLastErrorText() {
  if (!errorReportsEnabled) return;
  const DWORD code = GetLastError();
  char text[ReportTextCapacity];
  SystemText(code, text, sizeof(text));
  ReportMessage(Error, text);
}

void ShowErrorDialog(const char* details, const char* message) {
  if (details == nullptr) details = "";
  if (message == nullptr) message = "";
  Trace({"report (error, with the output as details): ", message});
  if (!ServiceMode && !ConsoleMode) {
    RunErrorDialog(details, message);
    return;
  }
  const size_t capacity = std::strlen(message) + std::strlen(details) + 256;
  char* text = static_cast<char*>(std::malloc(capacity));
  if (text != nullptr) FormatText(text, capacity, "%s\n\nDetails:\n%s", message, details);
  const char* written = text != nullptr ? text : message;
  if (ServiceMode) {
    WriteEventReport(Error, written);
  } else {
    WriteConsoleReport("Error", written);
  }
  std::free(text);
}
