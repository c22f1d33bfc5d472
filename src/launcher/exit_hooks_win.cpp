#include "launcher/exit_hooks_win.h"

#include <cstdlib>

#include "archives/archives.h"
#include "base/launch_config.h"
#include "base/process_state_win.h"
#include "base/trace.h"
#include "service/service_runtime_win.h"
#include "ui/report_win.h"

std::atomic<bool> ServiceExitRequested{false};
std::atomic<int> ServiceExitStatus{0};

namespace {

// What both ways of ending do before the process goes.
void ExitCleanup() {
  if (ArchiveCount >= 1 && LaunchConfig.RemoveTempArchives) SpawnCleanupChild();
  CloseInstanceMutex();
  CompleteServiceStop();
}

}  // namespace

void JNICALL ExitHook(jint status) {
  TraceEnd("System.exit, through the exit hook", status);
  ServiceExitStatus = status;
  ServiceExitRequested = true;
  ExitCleanup();
  std::exit(status);
}

void JNICALL AbortHook() {
  TraceEnd("the VM aborted, through the abort hook", 3);
  ReportErrorWithOutput("JVM has aborted due to an internal error.");
  ServiceExitStatus = 3;  // what the C runtime's abort ends with
  ServiceExitRequested = true;
  ExitCleanup();
  std::abort();
}
