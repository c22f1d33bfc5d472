// The report sink: where a finished text goes, by ServiceMode, and the formatted entry points.
#include <cstdio>

#include "base/process_state_win.h"
#include "base/trace.h"
#include "ui/report_win.h"

std::atomic<bool> errorReportsEnabled{true};
std::atomic<HWND> ErrorDialogWindow{nullptr};

void FormatTextV(char* out, size_t capacity, const char* format, va_list arguments) {
  if (out == nullptr || capacity == 0) return;
  // The C runtime's _vsnprintf leaves a cut text unterminated; the last byte is ours.
  _vsnprintf(out, capacity - 1, format, arguments);
  out[capacity - 1] = '\0';
}

void FormatText(char* out, size_t capacity, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  FormatTextV(out, capacity, format, arguments);
  va_end(arguments);
}

void ReportMessage(int level, const char* text) {
  if (text == nullptr) text = "";
  Trace({level == Information ? "report (information): " : "report (error): ", text});
  if (ServiceMode) {
    WriteEventReport(level == Information ? Information : Error, text);
  } else if (ConsoleMode) {
    WriteConsoleReport(level == Information ? "Information" : "Error", text);
  } else if (level == Information) {
    ShowInfoBox(text);
  } else {
    ShowErrorBox(text);
  }
}

void ReportInfo(const char* format, ...) {
  char text[ReportTextCapacity];
  va_list arguments;
  va_start(arguments, format);
  FormatTextV(text, sizeof(text), format, arguments);
  va_end(arguments);
  ReportMessage(Information, text);
}

void ReportError(const char* format, ...) {
  if (!errorReportsEnabled) return;
  char text[ReportTextCapacity];
  va_list arguments;
  va_start(arguments, format);
  FormatTextV(text, sizeof(text), format, arguments);
  va_end(arguments);
  ReportMessage(Error, text);
}
