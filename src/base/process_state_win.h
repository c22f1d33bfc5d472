// Process-wide state: fixed by the start-up driver and read by every other part, or owned by one
// part and closed once through the functions here.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>

#include "base/text.h"

// True once the driver has taken the service road; every report then goes to the event log.
extern std::atomic<bool> ServiceMode;
// True for a launcher whose image is a console program: it reports on standard error instead of in
// windows and shows no splash. Fixed by the driver before the first report.
extern bool ConsoleMode;
// Whether this process's own image declares the console subsystem (corvane-build sets the field;
// the code is the same for both kinds).
bool ImageIsConsoleProgram();
// The instance handle passed to the entry point (dialogs are loaded from it).
extern HINSTANCE InstanceHandle;
// Directory of the extracted archives: at most PathCapacity - 1 characters, "" when it could not be named.
extern char TempDir[PathCapacity];
// The current directory at start, before the launcher changed it (at most PathCapacity characters).
extern char StartDir[PathCapacity + 1];
// File name of the executable without its extension (malloc'd, "" before it is known).
extern char* AppName;
// The home of the runtime the search found, the value of %JAVA_HOME% ("" until the JVM start
// sets it from the search's result).
extern char RegistryJavaHome[PathCapacity];

// The single-instance mutex this process created and owns, or null. Closed once, by whichever of
// the driver and the exit hook comes first.
extern std::atomic<HANDLE> InstanceMutex;
void CloseInstanceMutex();

// The event-log source reports in service mode go to: registered under the service's name by the
// driver for a start by the service manager (or by the service's main routine), null otherwise.
// Reports read it from any thread; it is deregistered once.
extern std::atomic<HANDLE> EventSource;
void CloseEventSource();

// The switch with which the launcher starts its own clean-up child.
constexpr char CleanupSwitch[] = "-cvremovetemporaryjarfiles";

// The executable's full path into `path` (PathCapacity characters). A path that does not fit counts
// as a failure (the thread's last error then says so).
bool GetExecutablePath(char* path);

// A length-returning call answered `length` for a buffer of `capacity` characters: anything but a
// whole, terminated text is a failure (the last error says so for a cut one), so a cut path is never
// used.
bool FitsBuffer(DWORD length, size_t capacity);
