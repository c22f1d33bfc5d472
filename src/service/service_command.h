// The texts a service entry is made of: its command line and its dependency list. Portable.
#pragma once

#include <cstddef>

// Key paths and the service command line are built in buffers of this many characters.
constexpr size_t ServiceTextCapacity = 272;

enum class ServiceTextResult { Built, TooLong, Unsafe };

// "\"exe\" switch", or with the service's settings on the command line
// "\"exe\" switch \"name\" \"description\" 1|0" (1: automatic start). A name or description with a
// double quote, or ending in a backslash, would be split differently when the service starts:
// Unsafe. A line that does not fit `out` (ServiceTextCapacity): TooLong. `out` is "" unless Built.
ServiceTextResult BuildServiceCommandLine(char* out, const char* exePath, const char* serviceSwitch, bool withSettings,
                                          const char* name, const char* description, bool manualStart);

// `prefix` + `name` into `out` (ServiceTextCapacity); false (out "") when it does not fit.
bool BuildServiceKeyPath(char* out, const char* prefix, const char* name);

// The ";"-separated names as a double-NUL-terminated list, empty items left out; `length` counts
// every byte of it. Null (length 0) for a list without names, or when memory runs out (*failed).
char* BuildDependencyList(const char* names, size_t* length, bool* failed);
