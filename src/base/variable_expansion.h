// The %NAME% scanner behind ExpandVariables, with the values it needs passed in, so that the rules
// can be built and tested without Windows. Also the arithmetic of the AVAILRAM and TOTALRAM values.
#pragma once

#include <cstddef>
#include <cstdint>

// Where the values of the known names come from. Any lookup may be null: its names then expand to
// nothing. The scanner hands value-writing lookups a scratch buffer of its own call, so lookups that
// are themselves safe on several threads make the whole expansion safe.
struct VariableLookups {
  // %JAVA_HOME% (exact case): appended unchanged; null or "" while no runtime home is known.
  const char* javaHome;
  // %APPDIR%, %DATE%, %TIME% (any case): write the value, at most capacity - 1 characters plus the
  // terminator, and answer true; answer false when it cannot be produced or does not fit.
  bool (*appDir)(char* value, size_t capacity);
  bool (*date)(char* value, size_t capacity);
  bool (*time)(char* value, size_t capacity);
  // Available and total physical memory in bytes; false when unknown.
  bool (*memory)(uint64_t* available, uint64_t* total);
  // Any other name: a malloc'd copy of the environment variable's value, null when it is not set.
  char* (*environment)(const char* name);
};

// A malloc'd copy of `text` with every %NAME% reference replaced (null text reads as ""):
// - a reference that cannot be resolved, and an empty name ("%%"), expand to nothing;
// - every value but JAVA_HOME's loses one leading and one trailing double quote;
// - an unclosed reference stays in the text with its percent sign;
// - when nothing at all results, the answer is an unchanged copy of the text.
// Null only when memory runs out.
char* ExpandReferences(const char* text, const VariableLookups& lookups);

// The percentage written behind AVAILRAM or TOTALRAM: none gives 100; otherwise the text is read as
// a decimal number the way atoi reads it, and anything outside 1..100 gives 100.
int MemoryPercentage(const char* suffix);

// That share of `bytes` in MiB, truncated; at least 64. A share too large for a 32-bit number of MiB
// gives INT32_MAX rather than a wrapped or negative number.
int32_t MemoryMegabytes(int percentage, uint64_t bytes);
