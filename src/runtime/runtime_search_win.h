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
// passes the version rule leaves its JavaHome in `home` (PathCapacity characters). `versionSource`
// says for the trace where the version came from.
bool CheckRegistryRuntime(char* keyPath, const char* version, const char* versionSource, char* result, size_t size,
                          char* home, const char* preferredSubpath);
