// Running as a Windows service under the Service Control Manager.
#pragma once

#include <windows.h>

#include <atomic>

// Event-log source registered under the service name while the service runs; null otherwise.
extern std::atomic<HANDLE> EventSource;

// The service's start succeeded (the application runs); the exit hook then reports the stop.
extern std::atomic<bool> ServiceSucceeded;
// Signalled by the exit hook when the application ends; ServiceMain reports the stop and then sets
// ServiceMainFinished, which the hook waits for.
extern HANDLE ServiceStopEvent;
extern std::atomic<bool> ServiceMainFinished;
// Set by the exit and abort hooks in a service run: the process is to end with this status, not
// with the dispatcher's 0.
extern std::atomic<bool> ServiceExitRequested;
extern std::atomic<int> ServiceExitStatus;

// The service main routine handed to the dispatcher; runs the service to its end.
void WINAPI ServiceMain(DWORD argumentCount, LPSTR* arguments);
