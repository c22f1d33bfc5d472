// Creating the JVM: console, working folder, the runtime found by the search, loading jvm.dll with
// its own folder as DLL folder, the class path with the archives of its folders, the option list
// with the launcher's hooks, and JNI_CreateJavaVM.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/jvm_hooks.h"
#include "base/launch_config.h"
#include "base/process_state_win.h"
#include "runtime/jvm_win.h"
#include "runtime/runtime_paths.h"
#include "runtime/runtime_search_win.h"
#include "base/variables.h"
#include "ui/report_win.h"

SRWLOCK OutputLock = SRWLOCK_INIT;
HMODULE JvmModule = nullptr;
JavaVM* JavaVm = nullptr;
JNIEnv* MainEnv = nullptr;

namespace {

using CreateJavaVmFunction = jint(JNICALL*)(JavaVM**, void**, void*);
using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCSTR);

// Looked up by name: the function is missing on old systems.
SetDllDirectoryFunction FindSetDllDirectory() {
  HMODULE kernel32 = GetModuleHandleA("kernel32");
  return kernel32 == nullptr ? nullptr
                             : reinterpret_cast<SetDllDirectoryFunction>(
                                   reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDllDirectoryA")));
}

bool HasJniExports(HMODULE module) {
  return GetProcAddress(module, "JNI_CreateJavaVM") != nullptr &&
         GetProcAddress(module, "JNI_GetDefaultJavaVMInitArgs") != nullptr;
}

// The system reports its version: the launcher only insists that it can ask.
bool ProbeSystemVersion() {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  OSVERSIONINFOEXA extended{};
  extended.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
  if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended))) return true;
  OSVERSIONINFOA basic{};
  basic.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  const bool known = GetVersionExA(&basic) != 0;
#pragma GCC diagnostic pop
  if (!known) ReportLastError("Internal error RC0000040");
  return known;
}

void OpenConsole() {
  AllocConsole();
  std::freopen("CONIN$", "r", stdin);
  std::freopen("CONOUT$", "a", stdout);
  std::freopen("CONOUT$", "a", stderr);
}

// awt.dll from the runtime's own bin folder, and only from there: never from beside the
// executable or from PATH. Its result is not examined.
void LoadAwtBeside(const char* runtimeDirectory) {
  char joined[PathCapacity], full[PathCapacity];
  if (JoinPath(joined, runtimeDirectory, "awt.dll") == nullptr) return;
  const DWORD length = GetFullPathNameA(joined, sizeof(full), full, nullptr);
  if (length == 0 || length >= sizeof(full) || GetFileAttributesA(full) == INVALID_FILE_ATTRIBUTES) return;
  LoadLibraryExA(full, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Loads jvm.dll with its bin folder as current and DLL folder, then puts both back.
bool LoadRuntime() {
  char saved[PathCapacity + 1];
  const DWORD savedLength = GetCurrentDirectoryA(sizeof(saved), saved);
  if (savedLength == 0 || savedLength >= sizeof(saved)) {
    if (savedLength != 0) SetLastError(ERROR_FILENAME_EXCED_RANGE);
    ReportLastError(Message(MessageFileAccess), "CURRENT_DIR");
    return false;
  }
  char fullPath[PathCapacity], runtimeDirectory[PathCapacity];
  if (!RuntimeLoadPath(saved, JvmDllPath(), fullPath) || !RuntimeBinFolder(fullPath, runtimeDirectory)) {
    ReportError(Message(MessageJvmLoad), JvmDllPath());
    return false;
  }
  SetCurrentDirectoryA(runtimeDirectory);
  const SetDllDirectoryFunction setDllDirectory = FindSetDllDirectory();
  if (setDllDirectory != nullptr) setDllDirectory(runtimeDirectory);
  JvmModule = LoadLibraryExA(fullPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (JvmModule == nullptr) {
    ReportError(Message(MessageJvmLoad), JvmDllPath());
    return false;
  }
  LoadAwtBeside(runtimeDirectory);
  SetCurrentDirectoryA(saved);
  if (setDllDirectory != nullptr) setDllDirectory(nullptr);
  if (!HasJniExports(JvmModule)) {
    ReportError(Message(MessageJniInterfaces), JvmDllPath());
    return false;
  }
  return true;
}

bool EndsWithArchiveType(const char* name) {
  const size_t length = std::strlen(name);
  return length >= 4 && (lstrcmpiA(name + length - 4, ".jar") == 0 || lstrcmpiA(name + length - 4, ".zip") == 0);
}

// The JVM options: the configured ones, then the class path as one quoted option.
bool AssembleOptions(ScopedTextBuffer& options) {
  AppendText(&options, LaunchConfig.JvmOptions);
  if (LaunchConfig.ClassPath[0] == '\0') return true;
  ScopedTextBuffer classPath;
  HeapText entries(CopyText(LaunchConfig.ClassPath));
  if (!entries) return false;
  char* position = nullptr;
  for (char* entry = NextToken(entries.get(), ";", &position); entry != nullptr;
       entry = NextToken(entries.get(), ";", &position)) {
    AppendText(&classPath, entry);
    AppendText(&classPath, ";");
    if (ClassifyPath(entry) == 1 && !CollectArchives(&classPath, entry)) return false;
  }
  if (classPath.length == 0) return true;
  classPath.text[--classPath.length] = '\0';
  // A final backslash would escape the closing quote when the option text is split; "\." names the
  // same folder.
  if (classPath.text[classPath.length - 1] == '\\') AppendText(&classPath, ".");
  AppendText(&options, " \"-Djava.class.path=");
  AppendText(&options, classPath.text);
  AppendText(&options, "\"");
  return true;
}

}  // namespace

const char* JvmDllPath() { return LaunchConfig.JvmPath; }

bool SetWorkingDirectory(bool beforeJvm) {
  if (!beforeJvm && LaunchConfig.KeepStartDir) {
    if (!SetCurrentDirectoryA(StartDir)) {
      ReportLastError(Message(MessageFileAccess), StartDir);
      return false;
    }
    return true;
  }
  if (LaunchConfig.WorkingDir[0] == '\0') return true;
  if (!SetCurrentDirectoryA(LaunchConfig.WorkingDir)) {
    ReportLastError(Message(MessageFileAccess), LaunchConfig.WorkingDir);
    return false;
  }
  return true;
}

bool CollectArchives(TextBuffer* classPath, const char* directory) {
  char pattern[PathCapacity];
  if (std::strcmp(directory, ".") == 0) {
    std::strcpy(pattern, "*.*");
  } else {
    char base[PathCapacity];
    const size_t length = std::strlen(directory);
    if (length >= sizeof(base)) return true;  // a folder past the path limit holds nothing we can name
    std::memcpy(base, directory, length + 1);
    if (length > 0 && (base[length - 1] == '\\' || base[length - 1] == '/')) base[length - 1] = '\0';
    if (JoinPath(pattern, base, "*.*") == nullptr) return true;
  }
  WIN32_FIND_DATAA found;
  HANDLE listing = FindFirstFileA(pattern, &found);
  if (listing == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND) return true;
    ReportLastError("Internal error RC000001");
    return false;
  }
  bool succeeded = true;
  do {
    const char* name = found.cFileName;
    char path[PathCapacity];
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A junction or link may lead back up the tree: it is not followed.
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
          (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        continue;
      }
      if (JoinPath(path, directory, name) == nullptr) continue;
      if (!CollectArchives(classPath, path)) {
        succeeded = false;
        break;
      }
    } else if (EndsWithArchiveType(name) && JoinPath(path, directory, name) != nullptr) {
      AppendText(classPath, path);
      AppendText(classPath, ";");
    }
  } while (FindNextFileA(listing, &found));
  if (succeeded && GetLastError() != ERROR_NO_MORE_FILES) {
    ReportLastError("Internal error RC000002");
    succeeded = false;
  }
  FindClose(listing);
  return succeeded;
}

bool StartJvm() {
  if (!ProbeSystemVersion()) return false;
  const LaunchConfigRecord& config = LaunchConfig;
  if (config.StdOutMode == StreamNone && config.StdErrMode == StreamNone && config.ShowConsole) OpenConsole();
  if (config.WorkingDirBeforeJvm && !SetWorkingDirectory(true)) return false;

  char found[PathCapacity];
  if (!LocateJavaRuntime(found)) return false;
  if (!ReplaceConfigText(&LaunchConfig.JvmPath, found)) return false;
  if (!LoadRuntime()) return false;

  ScopedTextBuffer optionText;
  if (!AssembleOptions(optionText)) return false;
  HeapText expanded(ExpandVariables(optionText.text != nullptr ? optionText.text : ""));
  if (!expanded || !ReplaceConfigText(&LaunchConfig.JvmOptions, expanded.get())) {
    // Only running out of memory gets here; the VM cannot be made without its options.
    ReportError(Message(MessageJvmCreate), JvmDllPath());
    return false;
  }

  // The option strings and the array live as long as the process.
  int count = 0;
  char** arguments = nullptr;
  SplitCommandLine(LaunchConfig.JvmOptions, &count, &arguments, false);
  auto* options = static_cast<JavaVMOption*>(std::calloc(static_cast<size_t>(count) + 3, sizeof(JavaVMOption)));
  if (options == nullptr) {
    ReportError(Message(MessageJvmCreate), JvmDllPath());
    return false;
  }
  for (int i = 0; i < count; ++i) options[i].optionString = arguments[i];
  options[count] = {const_cast<char*>("vfprintf"), reinterpret_cast<void*>(VfprintfHook)};
  options[count + 1] = {const_cast<char*>("abort"), reinterpret_cast<void*>(AbortHook)};
  options[count + 2] = {const_cast<char*>("exit"), reinterpret_cast<void*>(ExitHook)};
  JavaVMInitArgs initArgs{};
  initArgs.version = JNI_VERSION_1_2;
  initArgs.nOptions = count + 3;
  initArgs.options = options;
  initArgs.ignoreUnrecognized = JNI_FALSE;

  const auto create = reinterpret_cast<CreateJavaVmFunction>(
      reinterpret_cast<void*>(GetProcAddress(JvmModule, "JNI_CreateJavaVM")));
  if (create(&JavaVm, reinterpret_cast<void**>(&MainEnv), &initArgs) != 0) {
    ReportErrorWithOutput(Message(MessageJvmCreate), JvmDllPath());
    return false;
  }
  return true;
}
