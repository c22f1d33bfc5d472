// The paths the driver fixes at start: the executable's folder and name, and the temporary folder of
// the carried archives. Portable: the Windows calls that give the texts are in the driver.
#pragma once

#include <cstdint>

#include "base/text.h"

// The directory of an executable path (a buffer of PathCapacity characters): the path cut at its
// last backslash, keeping the backslash of a drive's root ("C:\"). The path holds fewer than
// PathCapacity characters.
void ExecutableDirectory(const char* executablePath, char* directory);

// The file name of an executable path without its last extension (malloc'd; null when memory runs
// out).
char* DeriveAppName(const char* executablePath);

// The name of the temporary folder comes from the stored main class: it is used only when it is
// plain hex (what the builder stores), so that an edited executable cannot point it elsewhere.
bool IsPlainHexName(const char* name);

enum class TempDirNaming {
  Named,
  NotHex,          // the stored name is not plain hex
  NoSystemFolder,  // the system has no temporary folder (the thread's last error says why)
  TooLong,         // the result would not fit a path
};

// TempDir for a TempDirMode into `out` (PathCapacity characters; "" unless Named): mode 0 the
// program's folder "."; mode 1 the folder ".\<name>" beside it; any other the system's temporary
// folder followed by <name>, the stored (scrambled) main class. `systemTemp` writes the system's
// temporary folder (PathCapacity characters) and is asked only when that mode needs it.
TempDirNaming ComposeTempDir(int32_t mode, const char* storedName, bool (*systemTemp)(char* folder), char* out);
