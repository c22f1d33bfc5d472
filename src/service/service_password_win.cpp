// Asking for a service account's password on the console. The password is kept only in the caller's
// buffer: never echoed, traced, reported or written anywhere.
#include <cstring>

#include "base/handles_win.h"
#include "base/process_state_win.h"
#include "service/service_install.h"
#include "ui/report_win.h"

namespace {

void WriteText(HANDLE output, const char* text) {
  DWORD written = 0;
  if (output != nullptr && output != INVALID_HANDLE_VALUE) {
    WriteFile(output, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
  }
}

// One line of `input` into `out` without its line end. False when the input ends before any
// character or the line does not fit; `out` is wiped then.
bool ReadLine(HANDLE input, char* out) {
  size_t used = 0;
  bool any = false;
  for (;;) {
    char c = 0;
    DWORD read = 0;
    if (!ReadFile(input, &c, 1, &read, nullptr) || read == 0) break;
    any = true;
    if (c == '\n') break;
    if (c == '\r') continue;
    if (used + 1 >= PasswordCapacity) {
      SecureZeroMemory(out, PasswordCapacity);
      return false;
    }
    out[used++] = c;
  }
  out[used] = '\0';
  return any;
}

}  // namespace

bool AskPassword(const char* account, char* out) {
  out[0] = '\0';
  HANDLE input = nullptr, output = nullptr;
  UniqueFile consoleInput, consoleOutput;
  bool attached = false;
  if (ConsoleMode) {
    input = GetStdHandle(STD_INPUT_HANDLE);
    output = GetStdHandle(STD_ERROR_HANDLE);
  } else if (AttachConsole(ATTACH_PARENT_PROCESS)) {
    // A window program started from a console asks on that console.
    attached = true;
    consoleInput.Reset(CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
    consoleOutput.Reset(CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    input = consoleInput.Get(), output = consoleOutput.Get();
  }
  bool answered = false;
  if (input != nullptr && input != INVALID_HANDLE_VALUE) {
    DWORD mode = 0;
    const bool console = GetConsoleMode(input, &mode) != 0;
    if (console) {
      WriteText(output, "Password for ");
      WriteText(output, account);
      WriteText(output, ": ");
      SetConsoleMode(input, (mode & ~ENABLE_ECHO_INPUT) | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT);
    }
    answered = ReadLine(input, out);
    if (console) {
      SetConsoleMode(input, mode);
      WriteText(output, "\r\n");
    }
  }
  consoleInput.Reset(), consoleOutput.Reset();
  if (attached) FreeConsole();
  if (!answered) {
    ReportError("Cannot install the service as %s: no password came (none on the command line, no console to "
                "ask on, or a line over 255 characters).",
                account);
  }
  return answered;
}
