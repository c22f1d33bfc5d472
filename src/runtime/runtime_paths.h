// The paths with which a found jvm.dll is loaded. Portable.
#pragma once

#include "base/text.h"

// The jvm.dll path as a full path in `out` (PathCapacity characters), so that the file loaded is
// the file the search found: a relative path is taken against `currentDirectory`. Every "/" becomes
// "\", since the altered search path of LoadLibraryExA is documented for backslash paths only.
// False when the result would not fit.
bool RuntimeLoadPath(const char* currentDirectory, const char* jvmDll, char* out);

// The folder two levels above the jvm.dll of `loadPath` (the runtime's bin folder when the file
// lies in bin\server or bin\client), written as the path followed by "\..\..\", in `out`
// (PathCapacity characters). False when it would not fit.
bool RuntimeBinFolder(const char* loadPath, char* out);
