// Creating the Java virtual machine inside this process.
#pragma once

#include <windows.h>

#include <jni.h>

#include "base/handles_win.h"
#include "base/text.h"
#include "runtime/jvm_options.h"

// The loaded runtime, the VM and the JNIEnv of the thread that created it (none before StartJvm).
extern ProcessWide<UniqueModule> JvmModule;
extern JavaVM* JavaVm;
extern JNIEnv* MainEnv;
// The jvm.dll the search found, as it gave it ("" before); reports name it.
extern char JvmDllPath[PathCapacity];

// What a start of the VM needs besides the settings.
struct JvmStartRequest {
  JvmHooks hooks;
  const char* carriedClassPath;  // the extracted archives, "path;" each (null or "": none)
};

// Whether the launcher opens a console of its own for the VM's output: ShowConsole (from the INI
// file) with both stream modes 0, and not a console launcher, whose console or redirected handles a
// new one must not replace.
bool OpensOwnConsole();

// Locates a runtime, loads it and creates the JVM on the calling thread: JvmDllPath and the home
// the search found (RegistryJavaHome) are set from the search's result. False after a reported
// failure.
bool StartJvm(const JvmStartRequest& request);

// Enters WorkingDir (or, just before main with KeepStartDir outside service mode, StartDir). False
// after a reported failure.
bool SetWorkingDirectory(bool beforeJvm);

// Appends every .jar and .zip below `directory` (depth first, in listing order) to the class path,
// each followed by ";". False after a reported failure.
bool CollectArchives(TextBuffer* classPath, const char* directory);
