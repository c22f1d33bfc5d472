// The report entry points that portable code (the JNI call layer) uses; report.h adds the Windows
// ones. The contract tests on Linux link recording versions of these.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>

enum ReportLevel : int { Information = 0, Error = 1 };

// Size of every formatted report text, terminator included; longer texts are cut.
constexpr size_t ReportTextCapacity = 8192;

// While false, ReportError, ReportLastError and ReportLastErrorText say nothing (the message is lost).
extern std::atomic<bool> errorReportsEnabled;

// Shows or writes a finished text; any level other than Information is Error. Never a format.
void ReportMessage(int level, const char* text);

// Formats (cut at ReportTextCapacity) and reports as Information; not gated by errorReportsEnabled.
void ReportInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Formats and reports as Error, unless errorReportsEnabled is false.
void ReportError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reports a formatted error together with the output the VM and the application printed, as the
// details of the error dialog; a plain ReportError when there is nothing to show.
void ReportErrorWithOutput(const char* format, ...) __attribute__((format(printf, 1, 2)));
