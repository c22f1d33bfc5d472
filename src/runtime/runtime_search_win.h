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

// "JavaHome" of the registry runtime that passed the version rule last ("" until one did); also the
// value of the variable %JAVA_HOME%.
extern char RegistryJavaHome[PathCapacity];

// How the not-found reaction opens NoJvmDocument (ShellExecuteA "open") and starts NoJvmCommand
// (WinExec), both shown normally; tests put recorders here. Results are not examined.
extern void (*OpenNoJvmDocument)(const char* document);
extern void (*StartNoJvmCommand)(const char* commandLine);

// Tries the sources of JvmSearchOrder in order. True with the jvm.dll path in `result` (PathCapacity
// characters); false after the not-found reaction (message 4, NoJvmDocument, NoJvmCommand).
bool LocateJavaRuntime(char* result);

// Rows `firstRow` .. firstRow + rowCount - 1 of the registry key table, each by "CurrentVersion" and
// then by its version subkeys. `preferredSubpath` may be null.
bool SearchRegistryKeys(char* result, size_t size, int firstRow, int rowCount, const char* preferredSubpath);

// One version subkey of a key: the version rule, then RuntimeLib, each entry of JvmPath under
// JavaHome, the preferred subpath under JavaHome, or a jvm.dll anywhere below JavaHome. `keyPath` is a
// work buffer of RegistryKeyCapacity characters holding the key's path; "\" and the subkey name are
// appended to it, and a name that does not fit makes the subkey no candidate.
bool CheckRegistryRuntime(char* keyPath, const char* version, char* result, size_t size,
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
// version rules and have a 64-bit jvm.dll, the highest version wins; its home becomes
// RegistryJavaHome. False, RegistryJavaHome untouched, when none qualifies.
bool SearchInstalledRuntimes(char digit, char* result);

// A file named jvm.dll (any letter case) below `directory`, depth first, answered as
// directory\jvm.dll; result holds PathCapacity characters. Junctions and links are not followed, and
// nothing deeper than the path limit is searched.
bool FindJvmDll(const char* directory, char* result);

// 0 success (a string value, terminated inside the buffer); 1 value unreadable, not a string, or too
// long for the buffer (the buffer then holds ""); -1 key cannot be opened. At most size - 1 bytes are
// read; a value without its own terminator that fills them is taken as cut, so unreadable.
int QueryRegistryString(HKEY root, const char* subkey, const char* name, char* buffer, size_t size);
