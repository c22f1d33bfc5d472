// Running as a Windows service under the Service Control Manager.
#pragma once

#include "runtime/jvm_win.h"

// Hands the main thread to the Service Control Manager's dispatcher until the service has ended; its
// worker starts the JVM with `request` and runs main with ServiceArgs. A dispatcher that cannot be
// started is reported (RC000003).
void RunServiceDispatcher(const JvmStartRequest& request);

// For the VM's exit and abort hooks: when the service's start succeeded, lets the service main
// routine report the stop and returns once it has, so that the process ends after the service
// manager has heard of it. Does nothing outside a service run.
void CompleteServiceStop();
