// Running as a Windows service: the service main routine, its control handler, the worker that
// creates the JVM and runs main, and the stop worker with its 30-second time-out.
#include <cstdlib>

#include "app/application.h"
#include "app/shutdown.h"
#include "base/launch_config.h"
#include "base/process_state_win.h"
#include "base/text.h"
#include "runtime/jvm_win.h"
#include "service/service_runtime_win.h"
#include "ui/report_win.h"

namespace {

// The service's start succeeded (the application runs); the exit hook then reports the stop.
std::atomic<bool> ServiceSucceeded{false};
// Signalled when the application has ended (or the stop timed out); ServiceMain then reports the
// stop and sets ServiceMainFinished, which the exit hook waits for. Made once and never closed: the
// hooks and the stop threads may still set it late.
HANDLE ServiceStopEvent = nullptr;
std::atomic<bool> ServiceMainFinished{false};
// What the worker starts the JVM with.
JvmStartRequest WorkerRequest{};

constexpr DWORD StopWaitHint = 40000;
constexpr DWORD StopTimeout = 30000;
constexpr DWORD ServiceSpecificFailure = 1013;

// The status is written under a lock, and once stopped it stays stopped.
SRWLOCK StatusLock = SRWLOCK_INIT;
SERVICE_STATUS ServiceStatus{SERVICE_WIN32_OWN_PROCESS, 0, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN, 0, 0, 0, 0};
SERVICE_STATUS_HANDLE ServiceStatusHandle = nullptr;

// The JVM's life as the stop worker may see it: a stop never touches a VM that does not exist
// (yet, or any more). JvmReady is set once StartJvm has failed, or once the VM runs and the
// application's streams are set up, so that the stop call's output goes where main's goes.
enum class JvmPhase { NotCreated, Running, Failed, Destroyed };
SRWLOCK JvmLock = SRWLOCK_INIT;
JvmPhase Phase = JvmPhase::NotCreated;
HANDLE JvmReady = nullptr;

void SetStatus(DWORD state, DWORD waitHint, DWORD win32Exit = 0, DWORD specificExit = 0) {
  AcquireSRWLockExclusive(&StatusLock);
  if (ServiceStatus.dwCurrentState != SERVICE_STOPPED) {
    ServiceStatus.dwCurrentState = state;
    ServiceStatus.dwWaitHint = waitHint;
    ServiceStatus.dwWin32ExitCode = win32Exit;
    ServiceStatus.dwServiceSpecificExitCode = specificExit;
  }
  // A status the manager does not take has no other way to it; its own time-outs then apply.
  if (ServiceStatusHandle != nullptr) SetServiceStatus(ServiceStatusHandle, &ServiceStatus);
  ReleaseSRWLockExclusive(&StatusLock);
}

void EnterPhase(JvmPhase phase) {
  AcquireSRWLockExclusive(&JvmLock);
  Phase = phase;
  ReleaseSRWLockExclusive(&JvmLock);
  SetEvent(JvmReady);
}

DWORD WINAPI ServiceWorker(void*) {
  ServiceSucceeded = true;
  const bool started = StartJvm(WorkerRequest);
  ServiceSucceeded = started;
  if (!started) {
    EnterPhase(JvmPhase::Failed);
  } else {
    ArgumentList arguments;
    SplitCommandLine(LaunchConfig.ServiceArgs, &arguments.count, &arguments.items, false);
    const bool ran = RunApplication(arguments.count, arguments.items, false, [] { EnterPhase(JvmPhase::Running); });
    ServiceSucceeded = ran;
    if (!ran) std::exit(-1);  // reported; no final service status
    AcquireSRWLockExclusive(&JvmLock);
    Phase = JvmPhase::Destroyed;
    UnloadJvm();
    ReleaseSRWLockExclusive(&JvmLock);
  }
  SetEvent(ServiceStopEvent);
  return 0;
}

DWORD WINAPI ServiceStopWorker(void*) {
  // A stop that comes before the VM exists waits for it (within the time-out); one that comes
  // after it has gone does nothing. Only the phase check and the attach hold the lock: once
  // attached, this thread keeps the VM (DestroyJavaVM waits for it), and a stop call that waits for
  // the first main to end must not keep the worker from detaching that main's thread.
  WaitForSingleObject(JvmReady, StopTimeout);
  const bool byExit = LaunchConfig.ServiceStopByExit;
  AcquireSRWLockShared(&JvmLock);
  const bool running = Phase == JvmPhase::Running;
  JNIEnv* env = running ? AttachLauncherThread(byExit ? StopperThreadName : AttachedThreadName) : nullptr;
  ReleaseSRWLockShared(&JvmLock);
  if (!running) return 0;
  if (env == nullptr) {
    ServiceSucceeded = false;
    return 0;
  }
  if (byExit) {
    ServiceSucceeded = StopApplication(env);
  } else {
    ArgumentList arguments;
    SplitCommandLine(LaunchConfig.ServiceStopArgs, &arguments.count, &arguments.items, false);
    ServiceSucceeded = CallApplication(env, arguments.count, arguments.items);
  }
  DetachLauncherThread();
  return 0;
}

DWORD WINAPI ServiceStopTimeout(void*) {
  Sleep(StopTimeout);
  ReportError(Message(MessageServiceTimedOut), LaunchConfig.ServiceName);
  SetEvent(ServiceStopEvent);
  return 0;
}

bool StartThread(LPTHREAD_START_ROUTINE routine) {
  const UniqueThread thread(CreateThread(nullptr, 0, routine, nullptr, 0, nullptr));
  return thread.Valid();
}

void WINAPI ServiceControlHandler(DWORD control) {
  if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_SHUTDOWN) {
    // Interrogate and the rest: the status again, unchanged.
    AcquireSRWLockExclusive(&StatusLock);
    if (ServiceStatusHandle != nullptr) SetServiceStatus(ServiceStatusHandle, &ServiceStatus);
    ReleaseSRWLockExclusive(&StatusLock);
    return;
  }
  SetStatus(SERVICE_STOP_PENDING, StopWaitHint);
  if (!StartThread(ServiceStopWorker)) ReportLastErrorText();
  if (!StartThread(ServiceStopTimeout)) {
    ReportLastErrorText();
    SetEvent(ServiceStopEvent);
  }
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  const char* name = LaunchConfig.ServiceName;
  // Registered by the driver already when it could be; a source it could not register is tried again.
  if (EventSource.load() == nullptr) EventSource = RegisterEventSourceA(nullptr, name);
  ServiceStatusHandle = RegisterServiceCtrlHandlerA(name, ServiceControlHandler);
  const DWORD handlerError = GetLastError();
  if (EventSource.load() == nullptr) {
    // Nowhere to report to; the service still ends as stopped instead of leaving the manager waiting.
    SetStatus(SERVICE_STOPPED, 0, GetLastError(), 0);
    ServiceMainFinished = true;
    return;
  }
  // Without its handler the service cannot tell the manager its state or take a stop: said once
  // here; the application still runs.
  if (ServiceStatusHandle == nullptr) {
    SetLastError(handlerError);
    ReportLastErrorText();
  }
  ReportInfo(Message(MessageServiceStarted), name);
  SetStatus(SERVICE_RUNNING, 0);

  // Made once and never closed: the hooks and the stop threads may still set it late.
  ServiceStopEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  JvmReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (ServiceStopEvent == nullptr || JvmReady == nullptr) {
    ReportLastError("Internal error RC000004");
  } else if (!StartThread(ServiceWorker)) {
    ReportLastError("Internal error RC000005");
  } else {
    WaitForSingleObject(ServiceStopEvent, INFINITE);
  }

  if (ServiceSucceeded) {
    ReportInfo(Message(MessageServiceStopped), name);
    SetStatus(SERVICE_STOPPED, 0);
  } else {
    ReportError(Message(MessageServiceFailed), name);
    SetStatus(SERVICE_STOPPED, 0, ERROR_SERVICE_SPECIFIC_ERROR, ServiceSpecificFailure);
  }
  CloseEventSource();
  ServiceMainFinished = true;
}

}  // namespace

void RunServiceDispatcher(const JvmStartRequest& request) {
  WorkerRequest = request;
  // The dispatcher only reads the name.
  SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(LaunchConfig.ServiceName), ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) ReportLastError("Internal error RC000003");
}

void CompleteServiceStop() {
  if (!ServiceMode || !ServiceSucceeded) return;
  SetEvent(ServiceStopEvent);
  // The status reaches the service manager from ServiceMain's thread; polled, as nothing else
  // can be waited for from inside the VM's exit.
  while (!ServiceMainFinished) Sleep(100);
}
