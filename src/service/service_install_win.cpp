// Entering the executable as a Windows service, with its event-log source and description, and
// removing the service again.
#include <cstdlib>
#include <cstring>

#include "base/handles_win.h"
#include "base/launch_config.h"
#include "base/process_state_win.h"
#include "base/text.h"
#include "base/trace.h"
#include "service/service_command.h"
#include "service/service_install.h"
#include "service/service_options.h"
#include "ui/report_win.h"

namespace {

constexpr char EventLogKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr char ServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";
// Error, warning and information events.
constexpr DWORD EventTypesSupported = 7;

// The registry answers with its error code; it becomes the thread's last error, so that the report
// names it instead of whatever an earlier call left there.
bool RegistrySucceeded(LSTATUS status) {
  if (status == ERROR_SUCCESS) return true;
  SetLastError(static_cast<DWORD>(status));
  return false;
}

int CreateRegistryKey(HKEY root, const char* path) {
  UniqueKey key;
  return RegistrySucceeded(RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                           key.Receive(), nullptr))
             ? 0
             : -1;
}

int SetRegistryValue(HKEY root, const char* path, const char* name, DWORD type, const void* data, DWORD size) {
  UniqueKey key;
  if (!RegistrySucceeded(RegOpenKeyExA(root, path, 0, KEY_WRITE, key.Receive()))) return -1;
  return RegistrySucceeded(RegSetValueExA(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size)) ? 0 : 1;
}

int SetRegistryText(HKEY root, const char* path, const char* name, const char* text, DWORD type = REG_EXPAND_SZ) {
  // The terminating NUL is part of the data.
  return SetRegistryValue(root, path, name, type, text, static_cast<DWORD>(std::strlen(text) + 1));
}

int SetRegistryNumber(HKEY root, const char* path, const char* name, DWORD number) {
  return SetRegistryValue(root, path, name, REG_DWORD, &number, sizeof(number));
}

// How long an uninstall waits for a running service to stop, as the service itself waits for its
// application.
constexpr ULONGLONG UninstallStopTimeout = 30000;

// Everything the service entry is made of, checked before anything is created.
struct ServiceTexts {
  char exePath[PathCapacity + 1];
  char commandLine[ServiceTextCapacity];
  char eventLogKey[ServiceTextCapacity];
  char serviceKey[ServiceTextCapacity];
};

bool PrepareServiceTexts(const char* name, const char* description, ServiceTexts* texts) {
  if (!GetExecutablePath(texts->exePath)) {
    ReportLastErrorText();
    return false;
  }
  const LaunchConfigRecord& c = LaunchConfig;
  const ServiceTextResult built = BuildServiceCommandLine(texts->commandLine, texts->exePath, c.ServiceSwitch,
                                                          c.ServiceArgsFromCommandLine, name, description,
                                                          c.ServiceManualStart);
  if (built == ServiceTextResult::Unsafe) {
    ReportError("Cannot install the %s service: a name or description on its command line may not hold a double "
                "quote or end in a backslash.",
                name);
    return false;
  }
  if (built == ServiceTextResult::TooLong || !BuildServiceKeyPath(texts->eventLogKey, EventLogKey, name) ||
      !BuildServiceKeyPath(texts->serviceKey, ServicesKey, name)) {
    ReportError("Cannot install the %s service: its name, description or program path is too long.", name);
    return false;
  }
  return true;
}

// The recovery and account settings, checked before anything is created.
bool PrepareServiceOptions(const char* name, const char* password, RestartDelays* delays, AccountKind* kind) {
  const LaunchConfigRecord& c = LaunchConfig;
  const char* bad = ParseRestartDelays(c.ServiceRestartDelays, delays);
  const char* setting = "ServiceRestartDelays";
  if (bad == nullptr && c.ServiceResetSeconds < 0) bad = "must not be negative", setting = "ServiceResetSeconds";
  if (bad == nullptr) bad = CheckServiceAccount(c.ServiceAccount, password != nullptr, kind), setting = "ServiceAccount";
  if (bad == nullptr) return true;
  char reason[160];
  FormatText(reason, sizeof(reason), "%s: %s", setting, bad);
  ReportError("Cannot install the %s service: %s.", name, reason);
  return false;
}

// Failure actions, their flag and the delayed start; false (the thread's last error says why) when
// the service manager refuses one.
bool ConfigureService(SC_HANDLE service, const RestartDelays& delays) {
  const LaunchConfigRecord& c = LaunchConfig;
  if (delays.count > 0) {
    SC_ACTION actions[MaxRestartDelays];
    for (size_t i = 0; i < delays.count; ++i) actions[i] = {SC_ACTION_RESTART, delays.milliseconds[i]};
    SERVICE_FAILURE_ACTIONSA failure{};
    failure.dwResetPeriod = static_cast<DWORD>(c.ServiceResetSeconds);
    failure.cActions = static_cast<DWORD>(delays.count);
    failure.lpsaActions = actions;
    if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) return false;
    SERVICE_FAILURE_ACTIONS_FLAG flag{c.ServiceNonZeroExitFails ? TRUE : FALSE};
    if (c.ServiceNonZeroExitFails && !ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag)) {
      return false;
    }
  }
  SERVICE_DELAYED_AUTO_START_INFO delayed{TRUE};
  const bool delayedStart = c.ServiceDelayedStart && !c.ServiceManualStart;
  return !delayedStart || ChangeServiceConfig2A(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed);
}

}  // namespace

int QueryServiceInstalled(const char* name) {
  DWORD error = ERROR_SUCCESS;
  int answer = -1;
  {
    const UniqueService manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager.Valid()) return -1;
    const UniqueService service(OpenServiceA(manager.Get(), name, SERVICE_QUERY_CONFIG));
    error = GetLastError();
    answer = service.Valid() ? 1 : error == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : -1;
  }
  // Closing the handles must not hide why the answer is -1.
  if (answer == -1) SetLastError(error);
  return answer;
}

int InstallService(const char* name, const char* description, const char* password) {
  ServiceTexts texts;
  RestartDelays delays;
  AccountKind kind = AccountKind::LocalSystem;
  if (!PrepareServiceTexts(name, description, &texts) || !PrepareServiceOptions(name, password, &delays, &kind)) {
    return -1;
  }
  // Asked for only once everything else is known to be right, and wiped once the service exists.
  char asked[PasswordCapacity] = {};
  if (kind == AccountKind::User && password == nullptr) {
    if (!AskPassword(LaunchConfig.ServiceAccount, asked)) return -1;
    password = asked;
  }
  const LaunchConfigRecord& c = LaunchConfig;
  size_t dependenciesLength = 0;
  bool outOfMemory = false;
  HeapText dependencies(BuildDependencyList(c.ServiceDependencies != nullptr ? c.ServiceDependencies : "",
                                            &dependenciesLength, &outOfMemory));
  if (outOfMemory) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    ReportLastErrorText();
    return -1;
  }
  {
    const UniqueService manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager.Valid()) {
      ReportLastErrorText();
      return -1;
    }
    const DWORD type = SERVICE_WIN32_OWN_PROCESS | (c.ServiceInteractive ? SERVICE_INTERACTIVE_PROCESS : 0);
    const char* account = kind == AccountKind::LocalSystem ? nullptr : c.ServiceAccount;
    const UniqueService service(CreateServiceA(manager.Get(), name, name, SERVICE_ALL_ACCESS, type,
                                               c.ServiceManualStart ? SERVICE_DEMAND_START : SERVICE_AUTO_START,
                                               SERVICE_ERROR_NORMAL, texts.commandLine, nullptr, nullptr,
                                               dependencies.get(), account, kind == AccountKind::User ? password : nullptr));
    const DWORD created = GetLastError();
    SecureZeroMemory(asked, sizeof(asked));
    if (!service.Valid()) {
      SetLastError(created);
      ReportLastErrorText();
      return -1;
    }
    // A service the manager would not configure as asked is not left behind half made.
    if (!ConfigureService(service.Get(), delays)) {
      const DWORD refused = GetLastError();
      DeleteService(service.Get());
      SetLastError(refused);
      ReportLastErrorText();
      return -1;
    }
    Trace({"service ", name, " installed as ", account != nullptr ? account : "LocalSystem"});
  }
  // The service exists from here on; a failure below leaves it without (part of) its event source
  // or description.
  if (CreateRegistryKey(HKEY_LOCAL_MACHINE, texts.eventLogKey) != 0 ||
      SetRegistryText(HKEY_LOCAL_MACHINE, texts.eventLogKey, "EventMessageFile", texts.exePath) != 0 ||
      SetRegistryNumber(HKEY_LOCAL_MACHINE, texts.eventLogKey, "TypesSupported", EventTypesSupported) != 0 ||
      (description[0] != '\0' &&
       // A plain string, as the service manager writes it itself: Wine's refuses to load a service
       // whose description is of the expandable kind.
       SetRegistryText(HKEY_LOCAL_MACHINE, texts.serviceKey, "Description", description, REG_SZ) != 0)) {
    ReportLastErrorText();
    return -1;
  }
  return 0;
}

int UninstallService(const char* name) {
  const UniqueService manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager.Valid()) {
    ReportLastErrorText();
    return -1;
  }
  const UniqueService service(OpenServiceA(manager.Get(), name, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service.Valid()) {
    ReportLastErrorText();
    return -1;
  }
  // A running service would only be marked for deletion and go on running: stop it first.
  SERVICE_STATUS status{};
  bool stopAsked = false, wasRunning = false;
  const ULONGLONG start = GetTickCount64();
  while (QueryServiceStatus(service.Get(), &status) && status.dwCurrentState != SERVICE_STOPPED) {
    wasRunning = true;
    if (!stopAsked && status.dwCurrentState != SERVICE_STOP_PENDING) {
      // A service still starting cannot take the stop yet: asked again on the next round.
      if (ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) {
        stopAsked = true;
      } else if (GetLastError() != ERROR_SERVICE_CANNOT_ACCEPT_CTRL && GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
        ReportLastErrorText();
        return -1;
      }
    }
    if (GetTickCount64() - start >= UninstallStopTimeout) {
      ReportError(Message(MessageServiceNotStopped), name);
      return -1;
    }
    Sleep(200);
  }
  if (status.dwCurrentState != SERVICE_STOPPED) {
    ReportLastErrorText();
    return -1;
  }
  if (!DeleteService(service.Get())) {
    ReportLastErrorText();
    return -1;
  }
  Trace({"service ", name, wasRunning ? " stopped and uninstalled" : " uninstalled"});
  return wasRunning ? 1 : 0;
}
