// Ending the JVM: unloading it once main has returned, and the stopper's System.exit(0).
#include "app/shutdown.h"

#include "app/jni_calls.h"
#include "base/launch_config.h"
#include "runtime/jvm_win.h"
#include "ui/report_win.h"

void UnloadJvm() {
  if (JavaVm == nullptr) return;
  JavaVm->DetachCurrentThread();
  // Waits until every non-daemon thread of the application has ended.
  JavaVm->DestroyJavaVM();
  JavaVm = nullptr;
  MainEnv = nullptr;
  JvmModule->Reset();
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
