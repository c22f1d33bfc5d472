// Creating the JVM: console, working folder, the runtime found by the search, loading jvm.dll with
// its own folder as DLL folder, the class path with the archives of its folders, the option list
// with the launcher's hooks, and JNI_CreateJavaVM.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/directory_walk_win.h"
#include "base/launch_config.h"
#include "base/list_entries.h"
#include "base/process_state_win.h"
#include "base/trace.h"
#include "base/variables.h"
#include "runtime/jvm_win.h"
#include "runtime/runtime_paths.h"
#include "runtime/runtime_search_win.h"
#include "ui/report_win.h"

ProcessWide<UniqueModule> JvmModule;
JavaVM* JavaVm = nullptr;
JNIEnv* MainEnv = nullptr;
char JvmDllPath[PathCapacity] = "";

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
  // Fails when the process has a console already, which serves as well; a console that cannot be
  // had at all leaves the output unseen, which is no reason to stop the start. So do the reopens.
  AllocConsole();
  std::freopen("CONIN$", "r", stdin);
  std::freopen("CONOUT$", "a", stdout);
  std::freopen("CONOUT$", "a", stderr);
}

// awt.dll from the runtime's own bin folder, and only from there: never from beside the
// executable or from PATH. Its result is not examined: a runtime without a usable AWT still runs
// applications that show no window.
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
  if (!FitsBuffer(GetCurrentDirectoryA(sizeof(saved), saved), sizeof(saved))) {
    ReportLastError(Message(MessageFileAccess), "CURRENT_DIR");
    return false;
  }
  char fullPath[PathCapacity], runtimeDirectory[PathCapacity];
  if (!RuntimeLoadPath(saved, JvmDllPath, fullPath) || !RuntimeBinFolder(fullPath, runtimeDirectory)) {
    ReportError(Message(MessageJvmLoad), JvmDllPath);
    return false;
  }
  // Either of the two lets the runtime's own DLLs be found in its bin folder; a folder that is not
  // there makes the load below fail, which is reported.
  SetCurrentDirectoryA(runtimeDirectory);
  const SetDllDirectoryFunction setDllDirectory = FindSetDllDirectory();
  if (setDllDirectory != nullptr) setDllDirectory(runtimeDirectory);
  Trace({"loading ", fullPath});
  JvmModule->Reset(LoadLibraryExA(fullPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!JvmModule->Valid()) {
    ReportError(Message(MessageJvmLoad), JvmDllPath);
    return false;
  }
  LoadAwtBeside(runtimeDirectory);
  // Setting the DLL folder back to the default cannot fail.
  if (setDllDirectory != nullptr) setDllDirectory(nullptr);
  // The folder was current a moment ago; should it be gone, the application must not run in the
  // runtime's bin folder instead.
  if (!SetCurrentDirectoryA(saved)) {
    ReportLastError(Message(MessageFileAccess), saved);
    return false;
  }
  if (!HasJniExports(JvmModule->Get())) {
    ReportError(Message(MessageJniInterfaces), JvmDllPath);
    return false;
  }
  return true;
}

bool EndsWithArchiveType(const char* name) {
  const size_t length = std::strlen(name);
  return length >= 4 && (lstrcmpiA(name + length - 4, ".jar") == 0 || lstrcmpiA(name + length - 4, ".zip") == 0);
}

// The options the VM gets, one a line, and the class path one entry a line.
void TraceJvmOptions(const JvmOptionList& options) {
  static const char ClassPathOption[] = "-Djava.class.path=";
  for (int i = 0; i < options.count; ++i) {
    const JavaVMOption& option = options.options[i];
    if (std::strncmp(option.optionString, ClassPathOption, sizeof(ClassPathOption) - 1) != 0) {
      Trace({"vm option ", option.optionString, option.extraInfo != nullptr ? " (a hook of the launcher)" : ""});
      continue;
    }
    Trace({"vm option ", ClassPathOption, " with these entries:"});
    ForEachListEntry(option.optionString + sizeof(ClassPathOption) - 1, [](const char* entry) {
      Trace({"class path ", entry});
      return false;
    });
  }
}

}  // namespace

bool SetWorkingDirectory(bool beforeJvm) {
  // A service has no start folder of its own worth returning to.
  if (!beforeJvm && LaunchConfig.KeepStartDir && !ServiceMode) {
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
  switch (WalkDirectory(directory, true, [classPath](const char* folder, const char* name) {
    char path[PathCapacity];
    if (EndsWithArchiveType(name) && JoinPath(path, folder, name) != nullptr) {
      AppendText(classPath, path);
      AppendText(classPath, ";");
    }
    return false;
  })) {
    case WalkResult::ListingFailed:
      ReportLastError("Internal error RC000001");
      return false;
    case WalkResult::ReadingFailed:
      ReportLastError("Internal error RC000002");
      return false;
    default:
      return true;
  }
}

bool OpensOwnConsole() {
  const LaunchConfigRecord& c = LaunchConfig;
  return c.StdOutMode == StreamNone && c.StdErrMode == StreamNone && c.ShowConsole && !ConsoleMode;
}

bool StartJvm(const JvmStartRequest& request) {
  if (!ProbeSystemVersion()) return false;
  const LaunchConfigRecord& config = LaunchConfig;
  if (OpensOwnConsole()) OpenConsole();
  if (config.WorkingDirBeforeJvm && !SetWorkingDirectory(true)) return false;

  RuntimeFound found;
  const bool located = LocateJavaRuntime(&found);
  std::memcpy(RegistryJavaHome, found.home, sizeof(RegistryJavaHome));
  if (!located) return false;
  std::memcpy(JvmDllPath, found.jvmDll, sizeof(JvmDllPath));
  if (!LoadRuntime()) return false;

  // The option strings and their array live as long as the process: the VM may keep them.
  const HeapText classPath(ExtendClassPath(config.ClassPath, request.carriedClassPath));
  ScopedTextBuffer optionText;
  const ClassPathFolders folders{[](const char* entry) { return ClassifyPath(entry) == 1; }, CollectArchives};
  const OptionAssembly assembled =
      classPath ? AssembleJvmOptionText(config.JvmOptions, classPath.get(), folders, &optionText)
                : OptionAssembly::OutOfMemory;
  if (assembled == OptionAssembly::FolderFailed) return false;
  const HeapText expanded(assembled == OptionAssembly::Assembled
                              ? ExpandVariables(optionText.text != nullptr ? optionText.text : "")
                              : nullptr);
  JvmOptionList options{};
  if (!expanded || !BuildJvmOptionList(expanded.get(), request.hooks, &options)) {
    // Only running out of memory gets here; the VM cannot be made without its options.
    ReportError(Message(MessageJvmCreate), JvmDllPath);
    return false;
  }
  if (Tracing()) TraceJvmOptions(options);
  JavaVMInitArgs initArgs{};
  initArgs.version = JNI_VERSION_1_2;
  initArgs.nOptions = options.count;
  initArgs.options = options.options;
  initArgs.ignoreUnrecognized = JNI_FALSE;

  // The Java application's windows may open from here on, during the creation already.
  AllowOwnForeground();
  const auto create = reinterpret_cast<CreateJavaVmFunction>(
      reinterpret_cast<void*>(GetProcAddress(JvmModule->Get(), "JNI_CreateJavaVM")));
  const jint created = create(&JavaVm, reinterpret_cast<void**>(&MainEnv), &initArgs);
  if (created != 0) {
    if (Tracing()) Trace({"the VM was not created: JNI_CreateJavaVM answered ", DecimalText(created).text});
    ReportErrorWithOutput(Message(MessageJvmCreate), JvmDllPath);
    return false;
  }
  Trace({"VM created"});
  return true;
}
