// The start-up trace: when CORVANE_TRACE names a file (or "-" for standard error), every part of the
// launcher appends plain-text lines about what it tried and decided, so that a person can see why a
// start went the way it did. Without it nothing is formatted or written: callers ask Tracing()
// before they build anything a line needs. Portable: the file is opened in trace_win.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

// Where the lines go: set once by OpenTrace before any other thread exists, never changed after.
// `write` null means no trace. `write` gets one whole line (line end included) per call, so that
// lines written by several threads never mix.
struct TraceTarget {
  void (*write)(const char* line, size_t length);
  uint32_t (*milliseconds)();  // since the process started
};
extern TraceTarget TraceTo;

inline bool Tracing() { return TraceTo.write != nullptr; }

// Characters of one line, line end and terminator included; a longer line is cut and ends "...".
constexpr size_t TraceLineCapacity = 2048;

// Writes one line made of the pieces in order (a null piece reads as ""), after the time since the
// process started. Does nothing without a trace.
void Trace(std::initializer_list<const char*> pieces);

// The line Trace writes: the milliseconds right-aligned in 7 places, " ms  ", the pieces with every
// control character written as \xHH (a value's line break never starts a line of its own), then CR
// LF. A text that does not fit `capacity` (at least 8) ends with "..." before the line end. Answers
// the length without the terminator.
size_t FormatTraceLine(char* out, size_t capacity, uint32_t milliseconds, std::initializer_list<const char*> pieces);

// A number as decimal text, for a piece of a line.
struct DecimalText {
  char text[24];
  explicit DecimalText(int64_t value);
};

// Text of a flag, for a piece of a line.
inline const char* YesNo(bool value) { return value ? "true" : "false"; }

// Opens the trace CORVANE_TRACE names, relative to the current folder; a file that cannot be opened
// means no trace, never a failed start (trace_win.cpp).
void OpenTrace();

// Writes "end: <how>, status N" and answers the status, for the roads that end the launch.
int TraceEnd(const char* how, int status);
