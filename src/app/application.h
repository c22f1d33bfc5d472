// Running the application's main method in the JVM.
#pragma once

#include <jni.h>

// The names under which the launcher's own threads attach to the VM.
constexpr char AttachedThreadName[] = "Corvane thread";
constexpr char StopperThreadName[] = "Corvane stopper thread";

// Prepares the thread and streams, sets the launcher's system properties and calls main with the
// static options followed by `args`. attachMode: attach this thread to the running JVM first (as
// AttachedThreadName) and detach it afterwards on every road. streamsReady (null: none) is called
// once the streams are set up, before main. True when main returned without an exception; false
// after a reported failure.
bool RunApplication(int count, char** args, bool attachMode, void (*streamsReady)() = nullptr);

// Attaches the calling thread to the running VM; null after reporting message 8.
JNIEnv* AttachLauncherThread(const char* name);
// Detaches the calling thread again, so that DestroyJavaVM never waits for it.
void DetachLauncherThread();

// The properties, the export check and main, on a thread attached with AttachLauncherThread.
bool CallApplication(JNIEnv* env, int count, char** args);
