// How the launcher reads the texts of its settings table: flags, numbers, the "not set" marker and
// the name of the INI file. Portable, so that the tools and tests read settings the same way.
#pragma once

#include <cstdint>

// The stored text that marks a setting as not set; it reads as the empty text.
constexpr char NullMarker[] = "<null>";

// A flag is false only when its text begins with "0"; an empty text is true.
bool DecodeFlag(const char* text);

// Reads a decimal number the way C's atoi does (leading white space, optional sign, digits up to the
// first other character; no digits give 0), but saturates at the limits of int32 instead of
// overflowing.
int32_t DecodeNumber(const char* text);

// The INI file name: every %APPNAME% (any letter case) in `entry` becomes appName, every other
// %NAME% and "%%" is dropped, an unclosed "%" is dropped with the rest kept. When that leaves nothing,
// the entry is used unchanged. Answers a malloc'd text (null only when memory runs out).
char* SubstituteIniName(const char* entry, const char* appName);

// The process priority class index for PriorityClass values 0..5 (realtime, high, above normal,
// normal, below normal, idle); -1 leaves the priority unchanged.
int PriorityClassIndex(int32_t value);
