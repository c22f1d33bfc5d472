#include "launcher/launch_main_win.h"

#include <cstdlib>
#include <cstring>

#include "app/application.h"
#include "app/shutdown.h"
#include "archives/archive_layout.h"
#include "archives/archives.h"
#include "base/ini_override.h"
#include "base/launch_config.h"
#include "base/launch_config_win.h"
#include "base/process_state_win.h"
#include "launcher/second_instance.h"
#include "base/setting_decode.h"
#include "runtime/jvm_win.h"
#include "base/text.h"
#include "service/service_install.h"
#include "service/service_runtime_win.h"
#include "ui/report_win.h"
#include "ui/splash_win.h"
#include "ui/splash_rules.h"

namespace {

// The argument array of SplitCommandLine, freed with its scope.
struct Arguments {
  int count = 0;
  char** items = nullptr;
  Arguments() = default;
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;
  ~Arguments() { FreeArgumentArray(count, items); }
};

bool Equals(const char* a, const char* b) { return a != nullptr && b != nullptr && std::strcmp(a, b) == 0; }

// A length-returning call answered `length` for a buffer of `capacity` characters: anything but a
// whole, terminated text is a failure, so a cut path is never used.
bool FitsBuffer(DWORD length, size_t capacity) {
  if (length == 0) return false;
  if (length >= capacity) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  return true;
}

// Looked up at run time: the function is missing on old systems.
void AllowOwnForegroundWindow() {
  HMODULE user32 = LoadLibraryA("USER32.DLL");
  if (user32 == nullptr) return;
  using AllowFunction = BOOL(WINAPI*)(DWORD);
  auto allow = reinterpret_cast<AllowFunction>(
      reinterpret_cast<void*>(GetProcAddress(user32, "AllowSetForegroundWindow")));
  if (allow != nullptr) allow(GetCurrentProcessId());
}

// A start by the service manager (the service switch with a service name) reports to the event log
// from its first report on: a box in the service's session would keep the service from ever reaching
// its dispatcher. The source is the service's name, as ServiceMain would register it.
void EnterServiceModeEarly(const Arguments& args) {
  if (args.count < 2) return;
  HeapText name(LoadConfigString(IdServiceName)), serviceSwitch(LoadConfigString(IdServiceSwitch));
  if (!name || name.get()[0] == '\0' || !Equals(args.items[1], serviceSwitch.get())) return;
  const bool fromCommandLine = DecodeFlag(HeapText(LoadConfigString(IdServiceArgsFromCommandLine)).get());
  ServiceMode = true;
  EventSource = RegisterEventSourceA(nullptr, fromCommandLine && args.count > 2 ? args.items[2] : name.get());
}

// With ServiceArgsFromCommandLine the service switches take name, description and start type from
// the arguments that follow them.
void TakeServiceArguments(const Arguments& args) {
  if (!LaunchConfig.ServiceArgsFromCommandLine) return;
  if (args.count > 2) ReplaceConfigText(&LaunchConfig.ServiceName, args.items[2]);
  if (args.count > 3) ReplaceConfigText(&LaunchConfig.ServiceDescription, args.items[3]);
  if (args.count > 4) LaunchConfig.ServiceManualStart = DecodeNumber(args.items[4]) == 0;
}

void InstallCommand(const Arguments& args) {
  TakeServiceArguments(args);
  const int installed = QueryServiceInstalled(LaunchConfig.ServiceName);
  if (installed == -1) {
    ReportLastErrorText();
  } else if (installed == 1) {
    ReportError(Message(MessageServiceAlreadyInstalled), LaunchConfig.ServiceName);
  } else if (InstallService(LaunchConfig.ServiceName, LaunchConfig.ServiceDescription) == 0) {
    ReportInfo(Message(MessageServiceInstalled), LaunchConfig.ServiceName);
  }
}

void UninstallCommand(const Arguments& args) {
  if (LaunchConfig.ServiceArgsFromCommandLine && args.count > 2) {
    ReplaceConfigText(&LaunchConfig.ServiceName, args.items[2]);
  }
  if (UninstallService(LaunchConfig.ServiceName) == 0) {
    ReportInfo(Message(MessageServiceUninstalled), LaunchConfig.ServiceName);
  }
}

void RunAsService(const Arguments& args) {
  TakeServiceArguments(args);
  ServiceMode = true;
  SERVICE_TABLE_ENTRYA table[] = {{LaunchConfig.ServiceName, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) {
    // ServiceMode is set and no event source exists yet: this report is lost, as every report made
    // outside the Service Control Manager in service mode.
    ReportLastError("Internal error RC000003");
  }
  // The VM's exit hook ends the process with the application's status once the service has
  // reported its stop; the dispatcher's return must not end it first with 0.
  for (int waited = 0; ServiceExitRequested && waited < 100; ++waited) Sleep(100);
  if (ServiceExitRequested) ExitProcess(static_cast<UINT>(ServiceExitStatus.load()));
}

// Another instance runs and SecondInstanceCall is set: call main in a JVM of this process.
int RunSecondInstance(const Arguments& args) {
  if (!StartJvm()) return -1;
  Arguments combined;
  combined.items = SecondInstanceArguments(LaunchConfig.SecondInstanceArgs, args.count - 1, args.items + 1,
                                           &combined.count);
  if (combined.items == nullptr) return -1;
  const bool succeeded = RunApplication(combined.count, combined.items, true);
  if (succeeded) UnloadJvm();
  return succeeded ? 0 : -1;
}

// The splash must exist before the JVM starts; a splash that cannot be made ends the wait too.
void ShowSplashAndWait() {
  if (!SplashWanted(LaunchConfig.SplashUntilWindow, LaunchConfig.SplashSeconds)) return;
  StartSplashScreen();
  WaitForSplashWindow();
}

}  // namespace

bool NameTempDir(int32_t tempDirMode, const char* storedName) {
  TempDir[0] = '\0';
  if (tempDirMode == 0) {
    std::strcpy(TempDir, ".");
    return true;
  }
  // The name comes from the stored main class; anything but hex digits would let an edited
  // executable send its archives (and their deletion) somewhere else.
  if (!IsPlainHexName(storedName)) {
    SetLastError(ERROR_INVALID_NAME);
    ReportLastError(Message(MessageFileAccess), "TEMP_PATH");
    return false;
  }
  char base[PathCapacity];
  if (tempDirMode == 1) {
    std::strcpy(base, ".");
  } else if (!FitsBuffer(GetTempPathA(sizeof(base), base), sizeof(base))) {
    ReportLastError(Message(MessageFileAccess), "TEMP_PATH");
    return false;
  }
  if (JoinPath(TempDir, base, storedName) == nullptr) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    ReportLastError(Message(MessageFileAccess), "TEMP_PATH");
    return false;
  }
  return true;
}

bool GetExecutablePath(char* path) {
  return FitsBuffer(GetModuleFileNameA(nullptr, path, PathCapacity), PathCapacity);
}

void ExecutableDirectory(const char* executablePath, char* directory) {
  std::strcpy(directory, executablePath);
  char* lastSlash = std::strrchr(directory, '\\');
  if (lastSlash == nullptr) return;
  // "C:" alone would name the drive's current directory, not its root.
  const bool driveRoot = lastSlash == directory + 2 && directory[1] == ':';
  lastSlash[driveRoot ? 1 : 0] = '\0';
}

char* DeriveAppName(const char* executablePath) {
  const char* slash = std::strrchr(executablePath, '\\');
  const char* name = slash != nullptr ? slash + 1 : executablePath;
  // Only a dot in the file name itself starts the extension (not one in a directory name).
  const char* dot = std::strrchr(name, '.');
  const size_t length = dot != nullptr ? static_cast<size_t>(dot - name) : std::strlen(name);
  char* appName = static_cast<char*>(std::malloc(length + 1));
  if (appName == nullptr) return nullptr;
  std::memcpy(appName, name, length);
  appName[length] = '\0';
  return appName;
}

InstanceClaim ClaimSingleInstance(const char* mutexName, HANDLE* mutex) {
  *mutex = nullptr;
  // Creating first (never "open, then create") leaves no moment in which two instances both miss
  // each other's mutex.
  HANDLE handle = CreateMutexA(nullptr, TRUE, mutexName);
  const DWORD error = GetLastError();
  if (handle != nullptr && error == ERROR_ALREADY_EXISTS) {
    CloseHandle(handle);
    return InstanceClaim::AlreadyRunning;
  }
  if (handle == nullptr) {
    return error == ERROR_ACCESS_DENIED ? InstanceClaim::AlreadyRunning : InstanceClaim::Unchecked;
  }
  *mutex = handle;
  return InstanceClaim::Claimed;
}

int LaunchMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  InstanceHandle = instance;
  Arguments args;
  SplitCommandLine(commandLine, &args.count, &args.items, true);
  EnterServiceModeEarly(args);
  HeapText storedName(LoadConfigString(IdMainClass));
  SetMessage(MessageFileAccess, LoadMessageString(MessageFileAccess));
  const int32_t tempDirMode = DecodeNumber(HeapText(LoadConfigString(IdTempDirMode)).get());
  NameTempDir(tempDirMode, storedName ? storedName.get() : "");
  AllowOwnForegroundWindow();

  if (args.count == 3 && Equals(args.items[1], CleanupSwitch)) {
    CleanupChild(args.items[2]);
    return 0;
  }
  const char* firstArgument = args.count >= 2 ? args.items[1] : nullptr;

  if (!FitsBuffer(GetCurrentDirectoryA(sizeof(StartDir), StartDir), sizeof(StartDir))) {
    StartDir[0] = '\0';
    ReportLastError(Message(MessageFileAccess), "CURRENT_DIR");
    return 0;
  }
  char executablePath[PathCapacity];
  if (!GetExecutablePath(executablePath)) {
    ReportLastError(Message(MessageFileAccess), "CURRENT_EXE");
    return 0;
  }
  char directory[PathCapacity];
  ExecutableDirectory(executablePath, directory);
  if (!SetCurrentDirectoryA(directory)) {
    ReportLastError(Message(MessageFileAccess), directory);
    return 0;
  }
  AppName = DeriveAppName(executablePath);
  if (AppName == nullptr) return -1;

  LoadLaunchConfig(AppName);
  ApplyIniOverrides();

  const LaunchConfigRecord& config = LaunchConfig;
  if (!Equals(firstArgument, config.InstallSwitch) && !Equals(firstArgument, config.UninstallSwitch)) {
    ExtractArchives();
  }

  if (config.ServiceName[0] != '\0') {
    if (Equals(firstArgument, config.InstallSwitch)) {
      InstallCommand(args);
      return 0;
    }
    if (Equals(firstArgument, config.UninstallSwitch)) {
      UninstallCommand(args);
      return 0;
    }
    if (Equals(firstArgument, config.ServiceSwitch)) {
      RunAsService(args);
      return 0;
    }
    if (config.ServiceOnly) {
      ReportInfo(Message(MessageServiceOnly));
      return 0;
    }
  }

  if (!config.AllowMultipleInstances &&
      ClaimSingleInstance(config.AppMutex, &InstanceMutex) == InstanceClaim::AlreadyRunning) {
    if (!config.SecondInstanceCall) {
      ReportError(Message(MessageAlreadyRunning));
      return 0;
    }
    // A failed run ends through the C runtime like the normal road, so that exit handlers run.
    if (RunSecondInstance(args) != 0) std::exit(-1);
    return 0;
  }

  ShowSplashAndWait();
  if (!StartJvm()) return -1;
  const bool succeeded = RunApplication(args.count - 1, args.items + 1, false);
  if (succeeded) UnloadJvm();
  if (InstanceMutex != nullptr) {
    CloseHandle(InstanceMutex);
    InstanceMutex = nullptr;
  }
  if (!succeeded) std::exit(-1);
  return 0;
}
