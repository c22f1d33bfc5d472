// ExpandVariables and PrepareOutputPath: the scanner of variable_expansion.cpp with the values of
// this machine and process.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "base/process_state_win.h"
#include "base/text.h"
#include "base/variable_expansion.h"
#include "base/variables.h"

namespace {

// Date and time texts are formatted into at most this many characters, far more than the formats make.
constexpr int FormattedCapacity = 255;

// The module's file name up to its last backslash. A name that fills the buffer may have been cut, so
// it is refused rather than giving some other directory.
bool ExecutableDirectoryValue(char* value, size_t capacity) {
  const DWORD length = GetModuleFileNameA(nullptr, value, static_cast<DWORD>(capacity));
  if (length == 0 || length >= capacity) return false;
  value[length] = '\0';
  char* lastBackslash = std::strrchr(value, '\\');
  if (lastBackslash == nullptr) return false;
  *lastBackslash = '\0';
  return true;
}

int FormatCapacity(size_t capacity) {
  return capacity < static_cast<size_t>(FormattedCapacity) ? static_cast<int>(capacity) : FormattedCapacity;
}

bool DateValue(char* value, size_t capacity) {
  return GetDateFormatA(GetThreadLocale(), 0, nullptr, "yyyyMMdd", value, FormatCapacity(capacity)) > 0;
}

bool TimeValue(char* value, size_t capacity) {
  return GetTimeFormatA(GetThreadLocale(), 0, nullptr, "HHmmss", value, FormatCapacity(capacity)) > 0;
}

bool MemoryValues(uint64_t* available, uint64_t* total) {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof(status);
  if (!GlobalMemoryStatusEx(&status)) return false;
  *available = status.ullAvailPhys;
  *total = status.ullTotalPhys;
  return true;
}

// Sized by asking first; asked again should the variable grow in between (another thread may set it).
char* EnvironmentValue(const char* name) {
  DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
  while (size > 0) {
    char* value = static_cast<char*>(std::malloc(size));
    if (value == nullptr) return nullptr;
    const DWORD length = GetEnvironmentVariableA(name, value, size);
    if (length > 0 && length < size) return value;
    std::free(value);
    size = length;  // 0: gone meanwhile; otherwise the size it needs now
  }
  return nullptr;
}

}  // namespace

char* ExpandVariables(const char* text) {
  const VariableLookups lookups{RegistryJavaHome, ExecutableDirectoryValue, DateValue, TimeValue,
                                MemoryValues,     EnvironmentValue};
  return ExpandReferences(text, lookups);
}

char* PrepareOutputPath(const char* path) {
  char* expanded = ExpandVariables(path);
  if (expanded == nullptr) return nullptr;
  // Each backslash but a leading one ends a folder's path; it is cut there for the moment, so paths of
  // any length are handled without a fixed buffer. Folders are made from the outermost inward.
  for (char* p = expanded + 1; *expanded != '\0' && *p != '\0'; ++p) {
    if (*p != '\\') continue;
    *p = '\0';
    // A folder that cannot be made is reported as the log file that then cannot be opened.
    if (GetFileAttributesA(expanded) == INVALID_FILE_ATTRIBUTES) CreateDirectoryA(expanded, nullptr);
    *p = '\\';
  }
  return expanded;
}
