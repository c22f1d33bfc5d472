// What each digit of JvmSearchOrder searches, in order: the configured path list, rows of the older
// installers' registry table with the jvm.dll layout each prefers, JAVA_HOME, or the runtimes of
// today's installers and of PATH. Portable: the searching itself is in runtime_search_win.cpp.
#pragma once

#include <cstddef>

// The older installers' keys under HKEY_LOCAL_MACHINE, addressed by row.
extern const char* const RuntimeRegistryKeys[];
extern const int RuntimeRegistryRows;

enum class SearchSource {
  PathList,           // the JvmPath entries
  RegistryRows,       // rows firstRow .. firstRow + rowCount - 1 of RuntimeRegistryKeys
  JavaHomeVariable,   // the JAVA_HOME environment variable
  InstalledRuntimes,  // today's installers' keys (HKLM or HKCU) or PATH, by the digit itself
};

struct SearchStep {
  SearchSource source;
  int firstRow;
  int rowCount;
  const char* preferredSubpath;  // below a registry runtime's JavaHome; null for none
};

// The steps of one digit, tried in order until one finds a runtime; null (count 0) for a character
// that names no source.
const SearchStep* SearchStepsOf(char digit, size_t* count);
