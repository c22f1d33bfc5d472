// Creating the Java virtual machine inside this process.
#pragma once

#include <windows.h>

#include <jni.h>

#include "base/text.h"

// Guards the captured output. A lock that needs no set-up, so that a report made before or without
// a VM (a failed create, an early failure) finds it ready.
extern SRWLOCK OutputLock;
// The loaded runtime, the VM and the JNIEnv of the thread that created it (null before StartJvm).
extern HMODULE JvmModule;
extern JavaVM* JavaVm;
extern JNIEnv* MainEnv;

// The jvm.dll that was found, as the search gave it (it replaces the JvmPath list); reports name it.
const char* JvmDllPath();

// Locates a runtime, loads it and creates the JVM on the calling thread; the path found replaces
// JvmPath (JvmDllPath). False after a reported failure.
bool StartJvm();

// Enters WorkingDir (or, just before main with KeepStartDir, StartDir). False after a reported failure.
bool SetWorkingDirectory(bool beforeJvm);

// Appends every .jar and .zip below `directory` (depth first, in listing order) to the class path,
// each followed by ";". False after a reported failure.
bool CollectArchives(TextBuffer* classPath, const char* directory);
