// Runs a program and appends "end TICKS" to a file: how long the program's process lived, from its
// creation to its end, in 100 ns steps, on the clock the fake runtime's records use. Returns the
// program's exit status.
//   cvprocessend.exe FILE PROGRAM [ARGUMENT ...]      (no argument may hold a double quote)
#include <windows.h>

#include <string>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::string command;
  for (int i = 2; i < argc; ++i) command += (i > 2 ? " \"" : "\"") + std::string(argv[i]) + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) return 3;
  WaitForSingleObject(process.hProcess, INFINITE);
  FILETIME created, exited, kernel, user;
  DWORD status = 4;
  if (!GetProcessTimes(process.hProcess, &created, &exited, &kernel, &user) ||
      !GetExitCodeProcess(process.hProcess, &status)) {
    return 4;
  }
  const auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  const std::string line = "end " + std::to_string(ticks(exited) - ticks(created)) + "\n";
  const HANDLE out = CreateFileA(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  if (out == INVALID_HANDLE_VALUE || !WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
    return 4;
  }
  CloseHandle(out);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}
