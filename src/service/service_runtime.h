// Running as a Windows service under the Service Control Manager.
#pragma once

#include <windows.h>

#include <atomic>

// Event-log source registered under the service name while the service runs; null otherwise.
extern std::atomic<HANDLE> EventSource;

// The service main routine handed to the dispatcher; runs the service to its end.
void WINAPI ServiceMain(DWORD argumentCount, LPSTR* arguments);
