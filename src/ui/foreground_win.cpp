#include "ui/report_win.h"

void AllowForegroundFor(DWORD processId) {
  // Looked up at run time: the function is missing on old systems.
  HMODULE user32 = LoadLibraryA("USER32.DLL");
  if (user32 == nullptr) return;
  using AllowFunction = BOOL(WINAPI*)(DWORD);
  auto allow = reinterpret_cast<AllowFunction>(
      reinterpret_cast<void*>(GetProcAddress(user32, "AllowSetForegroundWindow")));
  if (allow != nullptr) allow(processId);
}

namespace {

BOOL CALLBACK AllowOnce(INIT_ONCE*, void*, void**) {
  AllowForegroundFor(GetCurrentProcessId());
  return TRUE;
}

}  // namespace

void AllowOwnForeground() {
  static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
  InitOnceExecuteOnce(&once, AllowOnce, nullptr, nullptr);
}
