// Finding a Java runtime's jvm.dll: the configured path list, the registry keys of several vendors'
// installers (with the version rule), JAVA_HOME and PATH, in the order of JvmSearchOrder; and the
// reaction when nothing is found.
#pragma once

#include <windows.h>

#include <cstddef>

#include "base/text.h"

// Size of the registry key work buffer, terminator included; a key path that does not fit is no
// candidate.
constexpr size_t RegistryKeyCapacity = 256;

// What a search found: the jvm.dll as the search gave it, and the home that %JAVA_HOME% names. The
// home is the JavaHome of the last registry candidate of digits 1 to 4 that passed the version rule,
// even one without a runtime and even when a later digit found the runtime, or the home of the
// runtime digits 6 to 9 chose; "" when neither happened (digits 0 and 5 name no home).
struct RuntimeFound {
  char jvmDll[PathCapacity];
  char home[PathCapacity];
};

// How the not-found reaction opens NoJvmDocument (ShellExecuteA "open") and starts NoJvmCommand
// (WinExec), both shown normally; tests put recorders here. Results are not examined.
extern void (*OpenNoJvmDocument)(const char* document);
extern void (*StartNoJvmCommand)(const char* commandLine);

// Tries the sources of JvmSearchOrder in order (search_order.h). True with what it found; false after
// the not-found reaction (message 4, NoJvmDocument, NoJvmCommand), found->home as the search left it.
bool LocateJavaRuntime(RuntimeFound* found);

// Rows `firstRow` .. firstRow + rowCount - 1 of the registry key table, each by "CurrentVersion" and
// then by its version subkeys, the jvm.dll into `result` (`size` characters) and each passing
// candidate's JavaHome into `home` (PathCapacity characters). `preferredSubpath` may be null.
bool SearchRegistryKeys(char* result, size_t size, char* home, int firstRow, int rowCount,
                        const char* preferredSubpath);

// One version subkey of a key: the version rule, then RuntimeLib, each entry of JvmPath under
// JavaHome, the preferred subpath under JavaHome, or a jvm.dll anywhere below JavaHome. `keyPath` is a
// work buffer of RegistryKeyCapacity characters holding the key's path; "\" and the subkey name are
// appended to it, and a name that does not fit makes the subkey no candidate. A candidate that
// passes the version rule leaves its JavaHome in `home` (PathCapacity characters).
bool CheckRegistryRuntime(char* keyPath, const char* version, char* result, size_t size, char* home,
                          const char* preferredSubpath);

// Where a runtime home keeps its jvm.dll, looked for as the registry rows do: each entry of JvmPath
// under the home, the preferred subpath (may be null), then any jvm.dll below the home. With
// `accept` a file counts only when accept takes it, the one found by listing too; without, any
// file that opens counts. True with the path in `result` (`size` characters).
bool FindRuntimeUnderHome(const char* home, const char* preferredSubpath, char* result, size_t size,
                          bool (*accept)(const char* path));

// Digits 6 to 9 (installed_runtimes_win.cpp): the keys of today's installers under
// HKEY_LOCAL_MACHINE (6 the JavaSoft keys of Java 9 and later, 7 the OpenJDK distributions' keys),
// both under HKEY_CURRENT_USER (8), and java.exe on PATH (9). Of the candidates that pass the
// version rules and have a 64-bit jvm.dll, the highest version wins: its jvm.dll and home go into
// `found`. False, found untouched, when none qualifies.
bool SearchInstalledRuntimes(char digit, RuntimeFound* found);

// A file named jvm.dll (any letter case) below `directory`, depth first, answered as
// directory\jvm.dll; result holds PathCapacity characters. Junctions and links are not followed, and
// nothing deeper than the path limit is searched.
bool FindJvmDll(const char* directory, char* result);

// 0 success (a string value, terminated inside the buffer); 1 value unreadable, not a string, or too
// long for the buffer (the buffer then holds ""); -1 key cannot be opened. At most size - 1 bytes are
// read; a value without its own terminator that fills them is taken as cut, so unreadable.
int QueryRegistryString(HKEY root, const char* subkey, const char* name, char* buffer, size_t size);
