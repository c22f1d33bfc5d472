// Finding a Java runtime's jvm.dll: the configured path list, the registry keys of several vendors'
// installers under HKEY_LOCAL_MACHINE (with the version rule), and JAVA_HOME, in the order of
// JvmSearchOrder; and the reaction when nothing is found.
#pragma once

#include <windows.h>

#include <cstddef>

#include "runtime/text.h"

// "JavaHome" of the registry runtime that passed the version rule last ("" until one did); also the
// value of the variable %JAVA_HOME%.
extern char RegistryJavaHome[PathCapacity];

// Tries the sources of JvmSearchOrder in order. True with the jvm.dll path in `result` (PathCapacity
// characters); false after the not-found reaction (message 4, NoJvmDocument, NoJvmCommand).
bool LocateJavaRuntime(char* result);

// Rows `firstRow` .. firstRow + rowCount - 1 of the registry key table, each by "CurrentVersion" and
// then by its version subkeys. `preferredSubpath` may be null.
bool SearchRegistryKeys(char* result, size_t size, int firstRow, int rowCount, const char* preferredSubpath);

// One version subkey of a key: the version rule, then RuntimeLib, JvmPath under JavaHome, the
// preferred subpath under JavaHome, or a jvm.dll anywhere below JavaHome. `keyPath` is a work buffer
// of 256 characters holding the key's path; the subkey name is appended to it.
bool CheckRegistryRuntime(char* keyPath, const char* version, char* result, size_t size,
                          const char* preferredSubpath);

// A file named jvm.dll (any letter case) below `directory`, depth first; result holds PathCapacity
// characters.
bool FindJvmDll(const char* directory, char* result);

// 0 success (a string value, terminated inside the buffer); 1 value unreadable, not a string, or too
// long for the buffer; -1 key cannot be opened.
int QueryRegistryString(HKEY root, const char* subkey, const char* name, char* buffer, size_t size);
