// cvsmoke: the program of the harness's smoke run. `cvsmoke <exit code> [<title> <text>]` writes
// its exact command line, its working folder and three environment variables to standard output,
// shows one error box when given a title and a text, and exits with the code. `cvsmoke hang` never
// ends.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 2) return 2;
  if (lstrcmpW(argv[1], L"hang") == 0) Sleep(INFINITE);
  std::wstring report = std::wstring(L"cmdline=") + GetCommandLineW() + L"\ncwd=";
  wchar_t text[4096];
  report.append(text, GetCurrentDirectoryW(4096, text));
  for (const wchar_t* name : {L"CVSMOKE_VALUE", L"JAVA_HOME", L"CVDRIVER_COMMAND"}) {
    const DWORD n = GetEnvironmentVariableW(name, text, 4096);
    report += std::wstring(L"\n") + name + (n > 0 && n < 4096 ? L"=" + std::wstring(text, n) : L" unset");
  }
  report += L"\n";
  std::string bytes(report.size() * 3, '\0');
  bytes.resize(WideCharToMultiByte(CP_UTF8, 0, report.data(), (int)report.size(), bytes.data(), (int)bytes.size(), nullptr, nullptr));
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), (DWORD)bytes.size(), &written, nullptr);
  if (argc >= 4) MessageBoxW(nullptr, argv[3], argv[2], MB_OK | MB_ICONERROR);
  return (int)wcstoul(argv[1], nullptr, 0);
}
