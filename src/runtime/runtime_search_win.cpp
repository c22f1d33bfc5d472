// Finding a jvm.dll: the path list, the older installers' registry keys, JAVA_HOME, and the not-found
// reaction; the runtimes of today's installers and of PATH are in installed_runtimes_win.cpp.
// The version rules themselves are portable (version_rule.cpp).
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>

#include "base/directory_walk_win.h"
#include "base/handles_win.h"
#include "base/launch_config.h"
#include "base/list_entries.h"
#include "base/text.h"
#include "base/trace.h"
#include "runtime/installed_runtimes_win.h"
#include "runtime/runtime_lookup_win.h"
#include "runtime/runtime_search_win.h"
#include "runtime/search_order.h"
#include "runtime/version_rule.h"
#include "ui/report_win.h"

namespace {

// The not-found reaction's helpers: the start has failed and is reported already, and whether the
// document or the command opened changes nothing the launcher could do next.
void OpenDocumentWithShell(const char* document) {
  ShellExecuteA(nullptr, "open", document, nullptr, nullptr, SW_SHOW);
}

void StartCommandLine(const char* commandLine) { WinExec(commandLine, SW_SHOW); }

// The JAVA_HOME layouts of a JRE inside a JDK and of a plain runtime.
const char* const JavaHomeSubpaths[] = {"jre\\bin\\client\\jvm.dll", "jre\\bin\\server\\jvm.dll", "bin\\client\\jvm.dll",
                                        "bin\\server\\jvm.dll"};

// Digit 0: the first entry of JvmPath that opens, relative to the current directory.
bool SearchPathList(char* result) {
  return ForEachListEntry(LaunchConfig.JvmPath, [result](const char* entry) {
    const bool taken = CanOpenFile(entry) && CopyIfFits(result, PathCapacity, entry);
    Trace({"candidate ", entry, " (JvmPath, no version rule): ", taken ? "taken" : "no jvm.dll"});
    return taken;
  });
}

// Digit 5: the runtime under JAVA_HOME, in the layouts of a JRE inside a JDK and of a plain runtime.
bool SearchJavaHome(char* result) {
  const DWORD needed = GetEnvironmentVariableA("JAVA_HOME", nullptr, 0);
  if (needed == 0) {
    Trace({"JAVA_HOME is not set"});
    return false;
  }
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
      found = TryUnderHome(value, subpath, result, PathCapacity);
      Trace({"candidate ", subpath, " under JAVA_HOME ", value, " (no version rule): ", found ? "taken" : "no jvm.dll"});
      if (found) break;
    }
  } else {
    Trace({"JAVA_HOME \"", value, "\" names no folder"});
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
    const char digitText[] = {*digit, '\0'};
    Trace({"search digit ", digitText, count == 0 ? ": names no place, skipped" : ""});
    for (size_t i = 0; i < count; ++i) {
      if (RunStep(steps[i], *digit, found)) {
        Trace({"runtime found by digit ", digitText, ": jvm.dll ", found->jvmDll, ", home \"", found->home, "\""});
        return true;
      }
      // A refused registry candidate leaves its home behind: it must not become %JAVA_HOME% of a
      // runtime a later step finds.
      found->jvmDll[0] = '\0';
      found->home[0] = '\0';
    }
  }
  Trace({"no runtime found"});

  if (LaunchConfig.ReportNoJvm) {
    ReportError(Message(MessageNoRuntime), LaunchConfig.JvmVersion != nullptr ? LaunchConfig.JvmVersion : "");
  }
  if (LaunchConfig.NoJvmDocument != nullptr && LaunchConfig.NoJvmDocument[0] != '\0') {
    Trace({"opening NoJvmDocument ", LaunchConfig.NoJvmDocument});
    OpenNoJvmDocument(LaunchConfig.NoJvmDocument);
  }
  if (LaunchConfig.NoJvmCommand != nullptr && LaunchConfig.NoJvmCommand[0] != '\0') {
    Trace({"starting NoJvmCommand ", LaunchConfig.NoJvmCommand});
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
        CheckRegistryRuntime(keyPath, version, "CurrentVersion", result, size, home, preferredSubpath)) {
      return true;
    }

    UniqueKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) {
      Trace({"registry key HKLM\\", keyName, ": not there"});
      continue;
    }
    for (DWORD index = 0;; ++index) {
      char name[RegistryKeyCapacity];
      DWORD nameLength = sizeof(name);
      const LONG status = RegEnumKeyExA(key.Get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_MORE_DATA) continue;  // a name longer than a key name can be: no candidate
      if (status != ERROR_SUCCESS) break;
      CopyIfFits(keyPath, sizeof(keyPath), keyName);
      if (CheckRegistryRuntime(keyPath, name, "key name", result, size, home, preferredSubpath)) return true;
    }
  }
  return false;
}

bool CheckRegistryRuntime(char* keyPath, const char* version, const char* versionSource, char* result, size_t size,
                          char* home, const char* preferredSubpath) {
  if (keyPath == nullptr || version == nullptr || result == nullptr || size == 0 || home == nullptr) return false;
  result[0] = '\0';
  if (!VersionAccepted(LaunchConfig.JvmVersion, version)) {
    Trace({"candidate HKLM\\", keyPath, "\\", version, ", version ", version, " (", versionSource,
           "): refused by the version rule"});
    return false;
  }

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
  bool taken = result[0] != '\0' && CanOpenFile(result);
  if (!taken) {
    result[0] = '\0';
    taken = home[0] != '\0' && FindRuntimeUnderHome(home, preferredSubpath, result, size, nullptr);
  }
  Trace({"candidate HKLM\\", keyPath, ", version ", version, " (", versionSource, "), home \"", home, "\": ",
         taken ? "taken " : "no jvm.dll", result});
  return taken;
}

