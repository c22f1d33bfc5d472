// The output ring, the capture pipe and its reader, and the error report that shows what was
// captured as the details of the error dialog.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/launch_config.h"
#include "base/process_state_win.h"
#include "ui/captured_output_win.h"
#include "ui/report_win.h"

SRWLOCK OutputLock = SRWLOCK_INIT;
ProcessWide<UniquePipe> capturePipe;
ProcessWide<UniqueThread> captureReader;
std::atomic<bool> CaptureGivenUp{false};

namespace {

// Made at the first use (under OutputLock): a static ring would add its 8 KB to the executable.
OutputRingRecord* OutputRing = nullptr;

// The ring, made when first needed; null when memory runs out (the output is then dropped). The
// caller holds OutputLock.
OutputRingRecord* Ring() {
  if (OutputRing == nullptr) OutputRing = static_cast<OutputRingRecord*>(std::calloc(1, sizeof(OutputRingRecord)));
  return OutputRing;
}
// Set by StopCapture: the reader drains what is readable and ends.
ProcessWide<UniqueEvent> captureStop;
// Bounds StopCapture's wait for a reader that does not come back.
constexpr DWORD ReaderEndTimeout = 5000;

void AppendLine(const char* bytes, size_t count, void*) { AppendToOutputRing(bytes, count); }

bool RingEmpty() {
  AcquireSRWLockExclusive(&OutputLock);
  const bool empty = OutputRing == nullptr || OutputRing->fill == 0;
  ReleaseSRWLockExclusive(&OutputLock);
  return empty;
}

// One overlapped read into the free part of the line buffer. Answers the bytes read (0 at the end
// of the pipe or when asked to stop), or -1 with the error left in *error.
long ReadPiece(HANDLE pipe, PipeLines* lines, OVERLAPPED* overlapped, bool* stopAsked, DWORD* error) {
  ResetEvent(overlapped->hEvent);
  DWORD count = 0;
  if (!ReadFile(pipe, FreePart(lines), static_cast<DWORD>(FreeSize(lines)), nullptr, overlapped)) {
    *error = GetLastError();
    if (*error != ERROR_IO_PENDING) return -1;
    HANDLE waits[2] = {overlapped->hEvent, captureStop->Get()};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
      *stopAsked = true;
      // Fails only when nothing is pending any more; the result below says what became of the read.
      CancelIo(pipe);
    }
  }
  if (!GetOverlappedResult(pipe, overlapped, &count, TRUE)) {
    *error = GetLastError();
    // A read cancelled on request is the normal end, not a failure.
    return *error == ERROR_OPERATION_ABORTED && *stopAsked ? 0 : -1;
  }
  return static_cast<long>(count);
}

// The bytes that are still in the pipe when the reader is asked to stop.
void Drain(HANDLE pipe, PipeLines* lines, OVERLAPPED* overlapped) {
  DWORD available = 0;
  while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    ResetEvent(overlapped->hEvent);
    DWORD count = 0;
    if (!ReadFile(pipe, FreePart(lines), static_cast<DWORD>(FreeSize(lines)), nullptr, overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
      return;
    }
    if (!GetOverlappedResult(pipe, overlapped, &count, TRUE) || count == 0) return;
    TakeLines(lines, count, AppendLine, nullptr);
  }
}

}  // namespace

bool ReportsShowOutput() {
  return !CaptureGivenUp && (LaunchConfig.StdOutMode != StreamNone || LaunchConfig.StdErrMode != StreamNone);
}

bool AppendToOutputRing(const char* bytes, size_t count) {
  AcquireSRWLockExclusive(&OutputLock);
  if (OutputRingRecord* ring = Ring()) AppendToRing(ring, bytes, count);
  if (ServiceMode) {
    // A copy for whoever watches the service's standard error; the ring above is what reports use.
    std::fwrite(bytes, 1, count < OutputRingCapacity ? count : OutputRingCapacity - 1, stderr);
    std::fflush(stderr);
  }
  ReleaseSRWLockExclusive(&OutputLock);
  return true;
}

bool CreateCapturePipe(char* name, size_t capacity) {
  FormatText(name, capacity, "\\\\.\\pipe\\%lu", GetCurrentProcessId());
  // The name is predictable: only a pipe this process creates first, with a single instance, may
  // receive the application's output, and no other machine may connect to it.
  capturePipe->Reset(CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                     PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                     0, 0, 0, nullptr));
  if (!capturePipe->Valid()) return false;
  captureStop->Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!captureStop->Valid()) {
    capturePipe->Reset();
    return false;
  }
  return true;
}

DWORD WINAPI OutputPipeReader(void* pipe) {
  PipeLines lines{};
  OVERLAPPED overlapped{};
  const UniqueEvent readDone(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  overlapped.hEvent = readDone.Get();
  if (!readDone.Valid()) {
    if (RingEmpty()) ReportLastError("Internal error RC0000050");
    return 0;
  }
  bool stopAsked = false;
  for (;;) {
    DWORD error = ERROR_SUCCESS;
    const long count = ReadPiece(pipe, &lines, &overlapped, &stopAsked, &error);
    if (count < 0) {
      // The writer's end going away is how the pipe normally ends.
      const bool normalEnd = error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
      if (!normalEnd && RingEmpty()) {
        SetLastError(error);
        ReportLastError("Internal error RC0000050");
      }
      break;
    }
    if (count > 0) TakeLines(&lines, static_cast<size_t>(count), AppendLine, nullptr);
    if (stopAsked) {
      Drain(static_cast<HANDLE>(pipe), &lines, &overlapped);
      break;
    }
    if (count == 0) break;
  }
  // The last words of a crash often lack a line end; they are kept.
  FlushLines(&lines, AppendLine, nullptr);
  return 0;
}

bool StartCaptureReader() {
  captureReader->Reset(CreateThread(nullptr, 0, OutputPipeReader, capturePipe->Get(), 0, nullptr));
  return captureReader->Valid();
}

void StopCapture() {
  if (!capturePipe->Valid()) return;
  // A failed flush only means less to drain; the reader takes what is there.
  FlushFileBuffers(capturePipe->Get());
  if (captureReader->Valid()) {
    SetEvent(captureStop->Get());
    if (WaitForSingleObject(captureReader->Get(), ReaderEndTimeout) == WAIT_TIMEOUT) {
      // A reader stuck in a call of its own: closing the pipe below makes that call fail.
      CancelIoEx(capturePipe->Get(), nullptr);
    }
  }
  capturePipe->Reset();
  if (captureReader->Valid()) {
    WaitForSingleObject(captureReader->Get(), ReaderEndTimeout);
    captureReader->Reset();
  }
}

void ReportErrorWithOutput(const char* format, ...) {
  char message[ReportTextCapacity];
  va_list arguments;
  va_start(arguments, format);
  FormatTextV(message, sizeof(message), format, arguments);
  va_end(arguments);
  // From here on the message is finished text: a percent sign in it is no conversion.
  if (!ReportsShowOutput()) {
    ReportError("%s", message);
    return;
  }
  StopCapture();
  // VM threads may still print: the ring is copied and emptied under the lock.
  char details[OutputRingCapacity];
  AcquireSRWLockExclusive(&OutputLock);
  const size_t length = OutputRing != nullptr ? TakeRingText(OutputRing, details, sizeof(details)) : 0;
  ReleaseSRWLockExclusive(&OutputLock);
  if (length > 0) {
    ShowErrorDialog(details, message);
  } else {
    ReportError("%s", message);
  }
}
