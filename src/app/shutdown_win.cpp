#include "app/shutdown.h"

#include "runtime/jvm_win.h"

void UnloadJvm() {
  if (JavaVm == nullptr) return;
  JavaVm->DetachCurrentThread();
  // Waits until every non-daemon thread of the application has ended.
  JavaVm->DestroyJavaVM();
  JavaVm = nullptr;
  MainEnv = nullptr;
  if (JvmModule != nullptr) FreeLibrary(JvmModule);
  JvmModule = nullptr;
}
