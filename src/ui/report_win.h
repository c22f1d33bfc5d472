// Every message the launcher gives a person ends here: a message box outside service mode, standard
// error for a console launcher, the Application event log in service mode. Callers format, choose a
// level and call one entry point.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstddef>

#include "ui/report_api.h"

// The error dialog while it is open, else null.
extern std::atomic<HWND> ErrorDialogWindow;

// Reports the formatted message, an empty line, "Reason: " and the system's text for the calling
// thread's last error, as Error.
void ReportLastError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Reports the system's text for the calling thread's last error alone, as Error.
void ReportLastErrorText();

// Shows the message above a details box holding `details` (the error dialog), or writes both to the
// event log in service mode. Not gated by errorReportsEnabled. Both texts are finished texts.
void ShowErrorDialog(const char* details, const char* message);

// Lets the process `processId` bring its windows to the front (AllowSetForegroundWindow, where the
// system has it).
void AllowForegroundFor(DWORD processId);

// Lets this process bring its windows to the front (without it they may open behind others), once; a
// caller while another does it waits until it is done. Called before the first window of the
// launcher or of the Java application can open, not earlier: it loads USER32.
void AllowOwnForeground();

// Loads the common controls once, before the first box, dialog or splash is shown, and allows the
// process its foreground first.
void LoadCommonControls();

// --- The screen and the event log (screen_win.cpp, event_log_win.cpp; fakes in the Windows tests) ---

// Owner-less message boxes "Information" and "Error"; return when the user has closed them.
void ShowInfoBox(const char* text);
void ShowErrorBox(const char* text);
// The modal error dialog (dialog resource 1); returns when it has ended or could not be created.
void RunErrorDialog(const char* details, const char* message);
// Writes "title: text" and a line end to the process's standard error (a console through its wide
// functions, a pipe or file as the text's bytes); lost when there is none.
void WriteConsoleReport(const char* title, const char* text);
// Writes one event with the text as its only insertion string to EventSource; lost when there is none.
void WriteEventReport(int level, const char* text);
// Moves a window to the centre of the primary screen.
void CenterWindow(HWND window);

// Formats into `out` of `capacity` bytes (at least 1), cutting what does not fit; `out` is always
// terminated. Uses the system C runtime's formatter: %s, %c, %d, %u, %x and %lu are enough here.
void FormatText(char* out, size_t capacity, const char* format, ...) __attribute__((format(printf, 3, 4)));
void FormatTextV(char* out, size_t capacity, const char* format, va_list arguments);
