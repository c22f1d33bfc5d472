// Entering the executable as a Windows service, with its event-log source and description, and
// removing the service again.
#include <cstdlib>
#include <cstring>

#include "base/handles_win.h"
#include "base/launch_config.h"
#include "base/process_state_win.h"
#include "base/text.h"
#include "service/service_command.h"
#include "service/service_install.h"
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

int InstallService(const char* name, const char* description) {
  ServiceTexts texts;
  if (!PrepareServiceTexts(name, description, &texts)) return -1;
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
    const UniqueService service(CreateServiceA(manager.Get(), name, name, SERVICE_ALL_ACCESS, type,
                                               c.ServiceManualStart ? SERVICE_DEMAND_START : SERVICE_AUTO_START,
                                               SERVICE_ERROR_NORMAL, texts.commandLine, nullptr, nullptr,
                                               dependencies.get(), nullptr, nullptr));
    if (!service.Valid()) {
      ReportLastErrorText();
      return -1;
    }
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
  const UniqueService service(OpenServiceA(manager.Get(), name, DELETE));
  if (!service.Valid() || !DeleteService(service.Get())) {
    ReportLastErrorText();
    return -1;
  }
  return 0;
}
