// Features this build does not have yet, kept in one place so that each can be removed when it lands.
// Each one tells the user that it is missing and answers failure, or does nothing where the feature
// itself never reports anything.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "launcher/archives.h"
#include "launcher/ini_override.h"
#include "launcher/launch_config.h"
#include "launcher/launch_state.h"
#include "runtime/text.h"
#include "service/service_runtime.h"
#include "ui/report.h"

// --- Carried archives ---
int32_t ArchiveCount = 0;

void ExtractArchives() {
  // Only an executable that carries archives would lose something here.
  if (FindResourceA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(10) /* RT_RCDATA */)) {
    ReportError("Carried archives are not part of this build yet; they are not extracted.");
  }
}

void CleanupChild(const char*) {}  // reports nothing by design; nothing was extracted

void SpawnCleanupChild() {}

// --- Service runtime ---
std::atomic<HANDLE> EventSource{nullptr};
// No service start ever succeeds yet, so the exit hook has no stop to report.
std::atomic<bool> ServiceSucceeded{false};
HANDLE ServiceStopEvent = nullptr;
std::atomic<bool> ServiceMainFinished{false};

namespace {
void WINAPI IgnoreServiceControl(DWORD) {}
}  // namespace

// Says so in the event log and ends the service stopped, so that the service manager does not wait.
void WINAPI ServiceMain(DWORD, LPSTR*) {
  EventSource = RegisterEventSourceA(nullptr, LaunchConfig.ServiceName);
  ReportError("The %s service cannot run: the service runtime is not part of this build yet.",
              LaunchConfig.ServiceName);
  SERVICE_STATUS_HANDLE status = RegisterServiceCtrlHandlerA(LaunchConfig.ServiceName, IgnoreServiceControl);
  if (status != nullptr) {
    SERVICE_STATUS stopped{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, ERROR_CALL_NOT_IMPLEMENTED, 0, 0, 0};
    SetServiceStatus(status, &stopped);
  }
  HANDLE source = EventSource.exchange(nullptr);
  if (source != nullptr) DeregisterEventSource(source);
}

