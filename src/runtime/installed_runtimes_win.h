// Digits 6 to 9 of the search: the runtimes that today's installers leave behind.
#pragma once

#include "runtime/runtime_search_win.h"

// The keys of today's installers under
// HKEY_LOCAL_MACHINE (6 the JavaSoft keys of Java 9 and later, 7 the OpenJDK distributions' keys),
// both under HKEY_CURRENT_USER (8), and java.exe on PATH (9). Of the candidates that pass the
// version rules and have a 64-bit jvm.dll, the highest version wins: its jvm.dll and home go into
// `found`. False, found untouched, when none qualifies.
bool SearchInstalledRuntimes(char digit, RuntimeFound* found);
