// Opening the trace and writing its lines with the system's own calls.
#include <windows.h>

#include <cstring>

#include "base/launch_config_win.h"
#include "base/process_state_win.h"
#include "base/setting_table.h"
#include "base/text.h"
#include "base/trace.h"

namespace {

// Open until the process ends, written by any thread; never closed, so that the exit and abort
// hooks can still write their last line. Standard error is not ours to close either.
HANDLE TraceFile = nullptr;
// When the process was created, in the system's 100 ns units.
uint64_t ProcessStart = 0;

uint64_t Ticks(const FILETIME& time) {
  return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

uint64_t Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return Ticks(now);
}

uint32_t MillisecondsSinceStart() {
  const uint64_t now = Now();
  const uint64_t elapsed = now > ProcessStart ? (now - ProcessStart) / 10000 : 0;
  return elapsed > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(elapsed);
}

// One call per line: a file opened for appending takes each write whole at its end, also from
// several processes (a launcher and its clean-up child) at once. The thread's last error is kept,
// since a line may be written between a failure and its report.
void WriteLine(const char* line, size_t length) {
  const DWORD error = GetLastError();
  DWORD written = 0;
  WriteFile(TraceFile, line, static_cast<DWORD>(length), &written, nullptr);
  SetLastError(error);
}

bool OpenTraceFile() {
  char path[PathCapacity];
  const DWORD length = GetEnvironmentVariableA("CORVANE_TRACE", path, sizeof(path));
  // Unset, empty, or too long to name a file: no trace.
  if (length == 0 || length >= sizeof(path)) return false;
  HANDLE file = std::strcmp(path, "-") == 0
                    ? GetStdHandle(STD_ERROR_HANDLE)
                    : CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == nullptr || file == INVALID_HANDLE_VALUE) return false;
  TraceFile = file;
  FILETIME created, exited, kernel, user;
  ProcessStart = GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user) ? Ticks(created) : Now();
  TraceTo = {WriteLine, MillisecondsSinceStart};
  return true;
}

}  // namespace

void OpenTrace() {
  // Whether or not there is a trace, the thread's last error stays as the start left it.
  const DWORD error = GetLastError();
  const bool opened = OpenTraceFile();
  SetLastError(error);
  if (!opened) return;

  char executable[PathCapacity];
  if (!GetExecutablePath(executable)) executable[0] = '\0';
  Trace({"trace of ", executable, ", process ", DecimalText(GetCurrentProcessId()).text});
  // What follows the install switch may be a service account's password: it is never traced.
  const char* line = GetCommandLineA();
  HeapText installSwitch(LoadConfigString(IdInstallSwitch));
  const size_t switchLength = installSwitch ? std::strlen(installSwitch.get()) : 0;
  for (const char* at = line; switchLength > 0 && (at = std::strstr(at, installSwitch.get())) != nullptr; ++at) {
    if (at > line && at[-1] == ' ' && (at[switchLength] == ' ' || at[switchLength] == '\0')) {
      HeapText cut(CopyText(line));
      if (!cut) return;
      cut.get()[at - line + switchLength] = '\0';
      Trace({"command line: ", cut.get(), at[switchLength] != '\0' ? " (its further arguments are not traced)" : ""});
      return;
    }
  }
  Trace({"command line: ", line});
}
