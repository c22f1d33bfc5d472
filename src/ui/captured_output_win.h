// What the VM and the application printed, held for error reports: the output ring, fed by the VM's
// vfprintf hook and by the reader of the capture pipe.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>

#include "base/handles_win.h"
#include "ui/output_ring.h"

// Guards the output ring. A lock that needs no set-up, so that a report made before or without a VM
// (a failed create, an early failure) finds it ready.
extern SRWLOCK OutputLock;

// The capture pipe's server end (none when there is no capture) and its reader thread.
extern ProcessWide<UniquePipe> capturePipe;
extern ProcessWide<UniqueThread> captureReader;

// Set when the capture pipe could not be set up: both stream modes then count as None, so the
// streams meant for it stay where the VM put them and reports carry no details.
extern std::atomic<bool> CaptureGivenUp;

// Whether error reports show captured output: a stream mode is not None and capture was not given up.
bool ReportsShowOutput();

// Adds bytes to the ring under OutputLock; in service mode they are echoed to standard error.
bool AppendToOutputRing(const char* bytes, size_t count);

// Creates the capture pipe "\\.\pipe\<process id>" so that this process holds its only instance
// and remote clients are refused; false when it cannot be made (another process owns the name).
bool CreateCapturePipe(char* name, size_t capacity);

// The reader thread: reads the pipe into the ring line by line until the pipe ends or
// StopCapture asks it to.
DWORD WINAPI OutputPipeReader(void* pipe);
// Starts the reader; false when the thread cannot be made.
bool StartCaptureReader();
// Drains what is readable, ends the reader (waiting a bounded time) and closes the pipe.
void StopCapture();
