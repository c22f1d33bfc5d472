// Finding a jvm.dll: the path list, the older installers' registry keys, JAVA_HOME, and the not-found
// reaction; the runtimes of today's installers and of PATH are in installed_runtimes_win.cpp.
// The version rules themselves are portable (version_rule.cpp).
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>

#include "base/launch_config.h"
#include "base/directory_walk_win.h"
#include "base/handles_win.h"
#include "base/list_entries.h"
#include "runtime/runtime_search_win.h"
#include "runtime/search_order.h"
#include "base/text.h"
#include "runtime/version_rule.h"
#include "ui/report_win.h"

namespace {

void OpenDocumentWithShell(const char* document) {
  ShellExecuteA(nullptr, "open", document, nullptr, nullptr, SW_SHOW);
}

void StartCommandLine(const char* commandLine) { WinExec(commandLine, SW_SHOW); }

// The JAVA_HOME layouts of a JRE inside a JDK and of a plain runtime.
const char* const JavaHomeSubpaths[] = {"jre\\bin\\client\\jvm.dll", "jre\\bin\\server\\jvm.dll", "bin\\client\\jvm.dll",
                                        "bin\\server\\jvm.dll"};

// Copies `text` into `out` of `size` characters when it fits with its terminator; else `out`
// becomes "" (when it has room for that) and the answer is false.
bool CopyIfFits(char* out, size_t size, const char* text) {
  const size_t length = std::strlen(text);
  if (length >= size) {
    if (size > 0) out[0] = '\0';
    return false;
  }
  std::memcpy(out, text, length + 1);
  return true;
}

// `home` joined with `subpath`, answered in `result` (`size` characters) when `accept` takes the
// file (without `accept`: when it opens).
bool TryUnderHome(const char* home, const char* subpath, char* result, size_t size,
                  bool (*accept)(const char* path) = nullptr) {
  char candidate[PathCapacity];
  if (JoinPath(candidate, home, subpath) == nullptr) return false;
  return (accept != nullptr ? accept(candidate) : CanOpenFile(candidate)) && CopyIfFits(result, size, candidate);
}

// Digit 0: the first entry of JvmPath that opens, relative to the current directory.
bool SearchPathList(char* result) {
  return ForEachListEntry(LaunchConfig.JvmPath, [result](const char* entry) {
    return CanOpenFile(entry) && CopyIfFits(result, PathCapacity, entry);
  });
}

// Digit 5: the runtime under JAVA_HOME, in the layouts of a JRE inside a JDK and of a plain runtime.
bool SearchJavaHome(char* result) {
  const DWORD needed = GetEnvironmentVariableA("JAVA_HOME", nullptr, 0);
  if (needed == 0) return false;
  char* value = static_cast<char*>(std::malloc(needed));
  if (value == nullptr) return false;
  const DWORD length = GetEnvironmentVariableA("JAVA_HOME", value, needed);
  if (length == 0 || length >= needed) {  // gone or grown in between
    std::free(value);
    return false;
  }
  char* out = value;
  for (const char* in = value; *in != '\0'; ++in) {
    if (*in != '"') *out++ = *in;
  }
  *out = '\0';
  // A home too long for a path cannot hold a runtime path either; cutting it would name another
  // directory, so it is passed over. An empty one (only quotes) names no home.
  bool found = false;
  if (value[0] != '\0' && std::strlen(value) < PathCapacity) {
    for (const char* subpath : JavaHomeSubpaths) {
      if (TryUnderHome(value, subpath, result, PathCapacity)) {
        found = true;
        break;
      }
    }
  }
  std::free(value);
  return found;
}

bool RunStep(const SearchStep& step, char digit, RuntimeFound* found) {
  switch (step.source) {
    case SearchSource::PathList:
      return SearchPathList(found->jvmDll);
    case SearchSource::RegistryRows:
      return SearchRegistryKeys(found->jvmDll, sizeof(found->jvmDll), found->home, step.firstRow, step.rowCount,
                                step.preferredSubpath);
    case SearchSource::JavaHomeVariable:
      return SearchJavaHome(found->jvmDll);
    case SearchSource::InstalledRuntimes:
      return SearchInstalledRuntimes(digit, found);
  }
  return false;
}

}  // namespace

void (*OpenNoJvmDocument)(const char* document) = OpenDocumentWithShell;
void (*StartNoJvmCommand)(const char* commandLine) = StartCommandLine;

bool LocateJavaRuntime(RuntimeFound* found) {
  found->jvmDll[0] = '\0';
  found->home[0] = '\0';
  const char* order = LaunchConfig.JvmSearchOrder != nullptr ? LaunchConfig.JvmSearchOrder : "";
  for (const char* digit = order; *digit != '\0'; ++digit) {
    size_t count = 0;
    const SearchStep* steps = SearchStepsOf(*digit, &count);
    for (size_t i = 0; i < count; ++i) {
      if (RunStep(steps[i], *digit, found)) return true;
      found->jvmDll[0] = '\0';
    }
  }

  if (LaunchConfig.ReportNoJvm) {
    ReportError(Message(MessageNoRuntime), LaunchConfig.JvmVersion != nullptr ? LaunchConfig.JvmVersion : "");
  }
  if (LaunchConfig.NoJvmDocument != nullptr && LaunchConfig.NoJvmDocument[0] != '\0') {
    OpenNoJvmDocument(LaunchConfig.NoJvmDocument);
  }
  if (LaunchConfig.NoJvmCommand != nullptr && LaunchConfig.NoJvmCommand[0] != '\0') {
    StartNoJvmCommand(LaunchConfig.NoJvmCommand);
  }
  return false;
}

bool SearchRegistryKeys(char* result, size_t size, char* home, int firstRow, int rowCount,
                        const char* preferredSubpath) {
  if (result == nullptr || size == 0) return false;
  for (int row = firstRow < 0 ? 0 : firstRow; row < firstRow + rowCount && row < RuntimeRegistryRows; ++row) {
    const char* keyName = RuntimeRegistryKeys[row];
    char keyPath[RegistryKeyCapacity];
    CopyIfFits(keyPath, sizeof(keyPath), keyName);

    char version[RegistryKeyCapacity];
    if (QueryRegistryString(HKEY_LOCAL_MACHINE, keyPath, "CurrentVersion", version, sizeof(version)) == 0 &&
        CheckRegistryRuntime(keyPath, version, result, size, home, preferredSubpath)) {
      return true;
    }

    UniqueKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) continue;
    for (DWORD index = 0;; ++index) {
      char name[RegistryKeyCapacity];
      DWORD nameLength = sizeof(name);
      const LONG status = RegEnumKeyExA(key.Get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_MORE_DATA) continue;  // a name longer than a key name can be: no candidate
      if (status != ERROR_SUCCESS) break;
      CopyIfFits(keyPath, sizeof(keyPath), keyName);
      if (CheckRegistryRuntime(keyPath, name, result, size, home, preferredSubpath)) return true;
    }
  }
  return false;
}

bool CheckRegistryRuntime(char* keyPath, const char* version, char* result, size_t size, char* home,
                          const char* preferredSubpath) {
  if (keyPath == nullptr || version == nullptr || result == nullptr || size == 0 || home == nullptr) return false;
  result[0] = '\0';
  if (!VersionAccepted(LaunchConfig.JvmVersion, version)) return false;

  // The work buffer takes "\" and the version only when both fit; a longer key is no candidate.
  const size_t keyLength = std::strlen(keyPath);
  const size_t versionLength = std::strlen(version);
  if (keyLength + 1 + versionLength >= RegistryKeyCapacity) return false;
  keyPath[keyLength] = '\\';
  std::memcpy(keyPath + keyLength + 1, version, versionLength + 1);

  // Unreadable values read as "": a candidate without them has no runtime.
  home[0] = '\0';
  QueryRegistryString(HKEY_LOCAL_MACHINE, keyPath, "JavaHome", home, PathCapacity);
  QueryRegistryString(HKEY_LOCAL_MACHINE, keyPath, "RuntimeLib", result, size);
  if (result[0] != '\0' && CanOpenFile(result)) return true;
  result[0] = '\0';
  if (home[0] == '\0') return false;
  return FindRuntimeUnderHome(home, preferredSubpath, result, size, nullptr);
}

bool FindRuntimeUnderHome(const char* home, const char* preferredSubpath, char* result, size_t size,
                          bool (*accept)(const char* path)) {
  // Each entry of the path list under the home, so that a list of several entries works too.
  if (ForEachListEntry(LaunchConfig.JvmPath, [home, result, size, accept](const char* entry) {
        return TryUnderHome(home, entry, result, size, accept);
      })) {
    return true;
  }
  if (preferredSubpath != nullptr && TryUnderHome(home, preferredSubpath, result, size, accept)) {
    return true;
  }
  char found[PathCapacity];
  return FindJvmDll(home, found) && (accept == nullptr || accept(found)) && CopyIfFits(result, size, found);
}

bool FindJvmDll(const char* directory, char* result) {
  if (result == nullptr) return false;
  result[0] = '\0';
  if (directory == nullptr) return false;
  // Folders that cannot be listed are passed over: the search looks on elsewhere.
  const bool found = WalkDirectory(directory, false, [result](const char* folder, const char* name) {
                       return lstrcmpiA(name, "jvm.dll") == 0 && JoinPath(result, folder, "jvm.dll") != nullptr;
                     }) == WalkResult::Stopped;
  if (!found) result[0] = '\0';
  return found;
}

int QueryRegistryString(HKEY root, const char* subkey, const char* name, char* buffer, size_t size) {
  UniqueKey key;
  if (RegOpenKeyExA(root, subkey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return -1;
  if (buffer == nullptr || size < 2) {
    if (buffer != nullptr && size == 1) buffer[0] = '\0';
    return 1;
  }
  // One byte stays free for the terminator the stored value may lack.
  const size_t room = size - 1;
  DWORD length = room > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(room);
  const DWORD capacity = length;
  DWORD type = REG_NONE;
  const LONG status = RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &length);
  bool readable = status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) && length <= capacity;
  // A value that fills every byte offered without its own terminator may have been cut.
  if (readable && length == capacity && buffer[length - 1] != '\0') readable = false;
  if (!readable) {
    buffer[0] = '\0';
    return 1;
  }
  buffer[length] = '\0';
  return 0;
}
