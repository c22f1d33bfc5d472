#include "launcher/launch_main_win.h"

#include <cstdlib>
#include <cstring>

#include "app/application.h"
#include "app/jvm_hooks.h"
#include "app/shutdown.h"
#include "archives/archives.h"
#include "base/handles_win.h"
#include "base/ini_override.h"
#include "base/launch_config.h"
#include "base/launch_config_win.h"
#include "base/process_state_win.h"
#include "base/setting_decode.h"
#include "base/start_paths.h"
#include "base/text.h"
#include "base/trace.h"
#include "launcher/exit_hooks_win.h"
#include "launcher/second_instance.h"
#include "launcher/second_start_win.h"
#include "runtime/jvm_win.h"
#include "service/service_install.h"
#include "service/service_runtime_win.h"
#include "ui/report_win.h"
#include "ui/splash_rules.h"
#include "ui/splash_win.h"

namespace {

bool Equals(const char* a, const char* b) { return a != nullptr && b != nullptr && std::strcmp(a, b) == 0; }

// A start by the service manager (the service switch with a service name) reports to the event log
// from its first report on: a box in the service's session would keep the service from ever reaching
// its dispatcher. The source is the service's name, as ServiceMain would register it.
void EnterServiceModeEarly(const ArgumentList& args) {
  if (args.count < 2 || !Equals(args.items[1], HeapText(LoadConfigString(IdServiceSwitch)).get())) return;
  HeapText name(LoadConfigString(IdServiceName));
  if (!name || name.get()[0] == '\0') return;
  const bool fromCommandLine = DecodeFlag(HeapText(LoadConfigString(IdServiceArgsFromCommandLine)).get());
  ServiceMode = true;
  // Without a source (it could not be registered) the reports are lost, never shown in a box.
  EventSource = RegisterEventSourceA(nullptr, fromCommandLine && args.count > 2 ? args.items[2] : name.get());
}

// With ServiceArgsFromCommandLine the service switches take name, description and start type from
// the arguments that follow them, and the install switch then an account: settings too, applied
// before anything reads them. A text that cannot be copied for want of memory keeps the configured
// one.
void TakeServiceArguments(const ArgumentList& args, bool install) {
  LaunchConfigRecord& config = EditLaunchConfig();
  if (!config.ServiceArgsFromCommandLine) return;
  if (args.count > 2) ReplaceConfigText(&config.ServiceName, args.items[2]);
  if (args.count > 3) ReplaceConfigText(&config.ServiceDescription, args.items[3]);
  if (args.count > 4) config.ServiceManualStart = DecodeNumber(args.items[4]) == 0;
  if (install && args.count > 5) ReplaceConfigText(&config.ServiceAccount, args.items[5]);
}

// The password on the install command line: after the account with ServiceArgsFromCommandLine,
// else right after the switch when ServiceAccount names an account (without one a further argument
// names nothing, as before accounts existed). Null when there is none.
const char* InstallPassword(const ArgumentList& args) {
  if (LaunchConfig.ServiceArgsFromCommandLine) return args.count > 6 ? args.items[6] : nullptr;
  return LaunchConfig.ServiceAccount[0] != '\0' && args.count > 2 ? args.items[2] : nullptr;
}

void InstallCommand(const char* password) {
  const int installed = QueryServiceInstalled(LaunchConfig.ServiceName);
  if (installed == -1) {
    ReportLastErrorText();
  } else if (installed == 1) {
    ReportError(Message(MessageServiceAlreadyInstalled), LaunchConfig.ServiceName);
  } else if (InstallService(LaunchConfig.ServiceName, LaunchConfig.ServiceDescription, password) == 0) {
    ReportInfo(Message(MessageServiceInstalled), LaunchConfig.ServiceName);
  }
}

void UninstallCommand() {
  const int removed = UninstallService(LaunchConfig.ServiceName);
  if (removed == 0) ReportInfo(Message(MessageServiceUninstalled), LaunchConfig.ServiceName);
  if (removed == 1) ReportInfo(Message(MessageServiceStoppedAndUninstalled), LaunchConfig.ServiceName);
}

void RunAsService(const JvmStartRequest& request) {
  RunServiceDispatcher(request);
  // The VM's exit hook ends the process with the application's status once the service has
  // reported its stop; the dispatcher's return must not end it first with 0.
  for (int waited = 0; ServiceExitRequested && waited < 100; ++waited) Sleep(100);
  if (ServiceExitRequested) ExitProcess(static_cast<UINT>(ServiceExitStatus.load()));
}

// Another instance runs and SecondInstanceCall is set: call main in a JVM of this process.
int RunSecondInstance(const ArgumentList& args, const JvmStartRequest& request) {
  if (!StartJvm(request)) return -1;
  ArgumentList combined;
  combined.items = SecondInstanceArguments(LaunchConfig.SecondInstanceArgs, args.count - 1, args.items + 1,
                                           &combined.count);
  if (combined.items == nullptr) return -1;
  const bool succeeded = RunApplication(combined.count, combined.items, true);
  if (succeeded) UnloadJvm();
  return succeeded ? 0 : -1;
}

// The splash must exist before the JVM starts; a splash that cannot be made ends the wait too.
void ShowSplashAndWait() {
  if (ConsoleMode) return;  // a console program opens no windows of its own
  if (!SplashWanted(LaunchConfig.SplashUntilWindow, LaunchConfig.SplashSeconds)) return;
  StartSplashScreen();
  WaitForSplashWindow();
}

}  // namespace

bool NameTempDir(int32_t tempDirMode, const char* storedName) {
  const auto systemTemp = [](char* folder) { return FitsBuffer(GetTempPathA(PathCapacity, folder), PathCapacity); };
  switch (ComposeTempDir(tempDirMode, storedName, systemTemp, TempDir)) {
    case TempDirNaming::Named:
      return true;
    case TempDirNaming::NotHex:
      SetLastError(ERROR_INVALID_NAME);
      break;
    case TempDirNaming::TooLong:
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      break;
    case TempDirNaming::NoSystemFolder:
      break;
  }
  ReportLastError(Message(MessageFileAccess), "TEMP_PATH");
  return false;
}

InstanceClaim ClaimSingleInstance(const char* mutexName) {
  // Creating first (never "open, then create") leaves no moment in which two instances both miss
  // each other's mutex.
  UniqueMutex mutex(CreateMutexA(nullptr, TRUE, mutexName));
  const DWORD error = GetLastError();
  if (mutex.Valid() && error == ERROR_ALREADY_EXISTS) return InstanceClaim::AlreadyRunning;
  if (!mutex.Valid()) return error == ERROR_ACCESS_DENIED ? InstanceClaim::AlreadyRunning : InstanceClaim::Unchecked;
  InstanceMutex = mutex.Release();
  return InstanceClaim::Claimed;
}

int LaunchMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  InstanceHandle = instance;
  ConsoleMode = ImageIsConsoleProgram();
  OpenTrace();
  ArgumentList args;
  SplitCommandLine(commandLine, &args.count, &args.items, true);
  EnterServiceModeEarly(args);
  HeapText storedName(LoadConfigString(IdMainClass));
  SetMessage(MessageFileAccess, LoadMessageString(MessageFileAccess));
  const int32_t tempDirMode = DecodeNumber(HeapText(LoadConfigString(IdTempDirMode)).get());
  NameTempDir(tempDirMode, storedName ? storedName.get() : "");

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

  // The settings: the string table, the INI file, and for a service switch the service's own
  // arguments. From here on LaunchConfig is only read.
  LoadLaunchConfig(AppName);
  ApplyIniOverrides();
  TraceSettings();
  Trace({"settings loaded"});
  const LaunchConfigRecord& config = LaunchConfig;
  const bool serviceSwitches = config.ServiceName[0] != '\0';
  const bool install = serviceSwitches && Equals(firstArgument, config.InstallSwitch);
  const bool uninstall = serviceSwitches && Equals(firstArgument, config.UninstallSwitch);
  // A start by the service manager was recognised before the first report could be made.
  const bool serviceRun = ServiceMode;
  if (install || serviceRun) TakeServiceArguments(args, install);
  if (uninstall && config.ServiceArgsFromCommandLine && args.count > 2) {
    ReplaceConfigText(&EditLaunchConfig().ServiceName, args.items[2]);
  }

  HeapText carried;
  if (!Equals(firstArgument, config.InstallSwitch) && !Equals(firstArgument, config.UninstallSwitch)) {
    carried.reset(ExtractArchives());
  }
  const JvmStartRequest request{{VfprintfHook, ExitHook, AbortHook}, carried.get()};

  if (install) {
    InstallCommand(InstallPassword(args));
    return 0;
  }
  if (uninstall) {
    UninstallCommand();
    return 0;
  }
  if (serviceRun) {
    RunAsService(request);
    return 0;
  }
  if (serviceSwitches && config.ServiceOnly) {
    ReportInfo(Message(MessageServiceOnly));
    return 0;
  }

  // With SecondInstanceMethod a second start hands its arguments to the running instance; when that
  // instance does not take them, the start goes on as it would without the method.
  const bool delivers = config.SecondInstanceMethod[0] != '\0';
  const InstanceClaim claim = config.AllowMultipleInstances ? InstanceClaim::Unchecked : ClaimSingleInstance(config.AppMutex);
  if (claim == InstanceClaim::AlreadyRunning) {
    if (delivers && DeliverSecondStart(config.AppMutex, StartDir, args.count - 1, args.items + 1,
                                       SecondStartAnswerMilliseconds)) {
      return 0;
    }
    if (!config.SecondInstanceCall) {
      ReportError(Message(MessageAlreadyRunning));
      return 0;
    }
    // A failed run ends through the C runtime like the normal road, so that exit handlers run.
    if (RunSecondInstance(args, request) != 0) std::exit(-1);
    return 0;
  }

  if (claim == InstanceClaim::Claimed && delivers) ServeSecondStarts(config.AppMutex);
  ShowSplashAndWait();
  if (!StartJvm(request)) {
    CloseSecondStarts();
    return TraceEnd("the VM was not started", -1);
  }
  const bool succeeded = RunApplication(args.count - 1, args.items + 1, false, OpenSecondStarts);
  if (succeeded) UnloadJvm();
  CloseSecondStarts();
  CloseInstanceMutex();
  TraceEnd(succeeded ? "the application's threads have ended" : "the run failed", succeeded ? 0 : -1);
  if (!succeeded) std::exit(-1);
  return 0;
}
