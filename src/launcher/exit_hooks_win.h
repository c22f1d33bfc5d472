// The VM's "exit" and "abort" hooks and the clean-up both do before the process ends.
#pragma once

#include <jni.h>

#include <atomic>

// Set by the hooks in a service run: the process is to end with this status, not with the
// dispatcher's 0.
extern std::atomic<bool> ServiceExitRequested;
extern std::atomic<int> ServiceExitStatus;

// The clean-up child (when archives were extracted and are to be removed), the instance mutex, and
// the service's stop report; then the C runtime's exit with the application's status.
void JNICALL ExitHook(jint status);
// Reports "JVM has aborted due to an internal error." with the captured output, does the same
// clean-up and ends with the C runtime's abort.
void JNICALL AbortHook();
