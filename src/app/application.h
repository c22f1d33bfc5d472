// Running the application's main method in the JVM.
#pragma once

#include <jni.h>

// The names under which the launcher's own threads attach to the VM.
constexpr char AttachedThreadName[] = "Corvane thread";
constexpr char StopperThreadName[] = "Corvane stopper thread";
constexpr char SecondStartThreadName[] = "Corvane second start";

// Prepares the thread and streams, sets the launcher's system properties and calls main with the
// static options followed by `args`; `beforeMain`, when given, is called once all that is done (the
// streams and properties are set), just before main. attachMode: attach this thread to the running JVM first (as AttachedThreadName) and
// detach it afterwards on every road. True when main returned without an exception; false after a
// reported failure.
bool RunApplication(int count, char** args, bool attachMode, void (*beforeMain)() = nullptr);

// Calls SecondInstanceMethod of the main class with a second start's arguments and folder, on the
// calling thread attached to the running VM as a daemon (the program's end never waits for it) and
// detached again. An exception out of it is described in the output and the program goes on; a
// method that is not there is traced once and the arguments are dropped.
void CallSecondStart(int count, char* const* args, const char* folder);

// Attaches the calling thread to the running VM; null after reporting message 8.
JNIEnv* AttachLauncherThread(const char* name);
// Detaches the calling thread again, so that DestroyJavaVM never waits for it.
void DetachLauncherThread();

// The properties, the export check and main, on a thread attached with AttachLauncherThread.
bool CallApplication(JNIEnv* env, int count, char** args, void (*beforeMain)() = nullptr);
