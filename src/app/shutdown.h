// Ending the JVM.
#pragma once

// Detaches the calling thread, destroys the JVM (waiting for its non-daemon threads) and unloads it.
void UnloadJvm();

#include <jni.h>

// Ends the application from outside with System.exit(0), on a thread attached with
// AttachLauncherThread; on success the exit hook ends the process. False after a reported failure.
bool StopApplication(JNIEnv* env);
