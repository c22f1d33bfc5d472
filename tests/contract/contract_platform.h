// What the contract driver needs from the operating system, behind a thin wall: loading the JVM
// library and ending the process at once (from a hook of the VM, where returning is no option).
#pragma once

#include <jni.h>

#include <string>

using CreateJavaVmFunction = jint(JNICALL*)(JavaVM** vm, void** env, void* args);

enum class LoadFault { None, Library, Entry };

// Loads the library at `path` and finds JNI_CreateJavaVM. On failure answers null with `fault` and
// the system's words in `reason`.
CreateJavaVmFunction LoadJvmLibrary(const char* path, LoadFault* fault, std::string* reason);

// Ends the process with `status` without running atexit handlers or static destructors (the VM's
// threads may still run).
[[noreturn]] void EndProcessNow(int status);

