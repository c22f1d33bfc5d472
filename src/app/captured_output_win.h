// What the VM and the application printed, held for error reports: the output ring, fed by the VM's
// vfprintf hook and by the reader of the capture pipe.
#pragma once

#include <windows.h>

#include <cstddef>

#include "app/output_ring.h"

// The capture pipe's server end (INVALID_HANDLE_VALUE when there is none) and its reader thread.
extern HANDLE capturePipe;
extern HANDLE captureReader;

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
