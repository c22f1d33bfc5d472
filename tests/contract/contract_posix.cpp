// The driver's OS wall on Linux: dlopen/dlsym and _exit.
#include <dlfcn.h>
#include <unistd.h>

#include "contract_platform.h"

CreateJavaVmFunction LoadJvmLibrary(const char* path, LoadFault* fault, std::string* reason) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* text = dlerror();
    *reason = text != nullptr ? text : "";
    *fault = LoadFault::Library;
    return nullptr;
  }
  void* entry = dlsym(library, "JNI_CreateJavaVM");
  if (entry == nullptr) {
    const char* text = dlerror();
    *reason = text != nullptr ? text : "";
    *fault = LoadFault::Entry;
    return nullptr;
  }
  *fault = LoadFault::None;
  return reinterpret_cast<CreateJavaVmFunction>(entry);
}

void EndProcessNow(int status) { _exit(status); }
