// The hooks the VM calls: its own messages, its exit and its abort; and the stopper that ends the
// application with System.exit(0).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/captured_output_win.h"
#include "app/jni_calls.h"
#include "app/jvm_hooks.h"
#include "app/shutdown.h"
#include "archives/archives.h"
#include "base/launch_config.h"
#include "base/process_state_win.h"
#include "runtime/jvm_win.h"
#include "service/service_runtime_win.h"
#include "ui/report_win.h"

namespace {

constexpr size_t VmMessageCapacity = 4096;

// What both ways of ending do before the process goes: the clean-up child, the instance mutex and
// the service's stop report.
void ExitCleanup() {
  if (ArchiveCount >= 1 && LaunchConfig.RemoveTempArchives) SpawnCleanupChild();
  if (InstanceMutex != nullptr) CloseHandle(InstanceMutex);
  InstanceMutex = nullptr;
  if (ServiceMode && ServiceSucceeded) {
    SetEvent(ServiceStopEvent);
    while (!ServiceMainFinished) Sleep(100);
  }
}

}  // namespace

jint JNICALL VfprintfHook(FILE*, const char* format, va_list arguments) {
  char text[VmMessageCapacity] = {};
  // Longer messages are cut; the last byte stays 0.
  const jint result = _vsnprintf(text, sizeof(text) - 1, format, arguments);
  Sleep(100);
  // Every LF becomes CR LF: 4095 characters become at most 8190 bytes, so the copy always fits.
  char copy[2 * VmMessageCapacity] = {};
  size_t length = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\n') copy[length++] = '\r';
    copy[length++] = *p;
  }
  AppendToOutputRing(copy, length);
  return result;
}

void JNICALL ExitHook(jint status) {
  ServiceExitStatus = status;
  ServiceExitRequested = true;
  ExitCleanup();
  std::exit(status);
}

void JNICALL AbortHook() {
  ReportErrorWithOutput("JVM has aborted due to an internal error.");
  ServiceExitStatus = 3;  // what the C runtime's abort ends with
  ServiceExitRequested = true;
  ExitCleanup();
  std::abort();
}

bool StopApplication(JNIEnv* env) {
  jclass system = env->FindClass("java/lang/System");
  if (JniStepFailed(env, system)) {
    ReportError(Message(MessageClass), "java/lang/System");
    return false;
  }
  jmethodID exit = env->GetStaticMethodID(system, "exit", "(I)V");
  if (JniStepFailed(env, exit)) {
    ReportError(Message(MessageMethod), "exit(int)");
    return false;
  }
  // On success the VM runs the shutdown hooks and ExitHook ends the process: no return.
  env->CallStaticVoidMethod(system, exit, 0);
  if (CheckJavaException(env)) {
    ReportError(Message(MessageInvoke), "exit(int)");
    return false;
  }
  return true;
}
