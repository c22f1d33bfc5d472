// Looking inside a runtime's home and reading the registry's runtime values, for every search digit
// that knows a home.
#pragma once

#include <windows.h>

#include <cstddef>

#include "base/text.h"

// Copies `text` into `out` of `size` characters when it fits with its terminator; else `out`
// becomes "" (when it has room for that) and the answer is false.
bool CopyIfFits(char* out, size_t size, const char* text);

// `home` joined with `subpath`, answered in `result` (`size` characters) when `accept` takes the
// file (without `accept`: when it opens).
bool TryUnderHome(const char* home, const char* subpath, char* result, size_t size,
                  bool (*accept)(const char* path) = nullptr);

// Where a runtime home keeps its jvm.dll, looked for as the registry rows do: each entry of JvmPath
// under the home, the preferred subpath (may be null), then any jvm.dll below the home. With
// `accept` a file counts only when accept takes it, the one found by listing too; without, any
// file that opens counts. True with the path in `result` (`size` characters).
bool FindRuntimeUnderHome(const char* home, const char* preferredSubpath, char* result, size_t size,
                          bool (*accept)(const char* path));

// A file named jvm.dll (any letter case) below `directory`, depth first, answered as
// directory\jvm.dll; result holds PathCapacity characters. Junctions and links are not followed, and
// nothing deeper than the path limit is searched.
bool FindJvmDll(const char* directory, char* result);

// 0 success (a string value, terminated inside the buffer); 1 value unreadable, not a string, or too
// long for the buffer (the buffer then holds ""); -1 key cannot be opened. At most size - 1 bytes are
// read; a value without its own terminator that fills them is taken as cut, so unreadable.
int QueryRegistryString(HKEY root, const char* subkey, const char* name, char* buffer, size_t size);
