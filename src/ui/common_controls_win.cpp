// The common controls (version 6, as the manifest asks) are loaded when the launcher first shows
// something, not at start: as an import they would be initialised, with the visual theme, at every
// start, though a start that goes well shows nothing at all.
#include <windows.h>

#include "ui/report_win.h"

namespace {

BOOL CALLBACK LoadOnce(INIT_ONCE*, void*, void**) {
  AllowOwnForeground();
  const HMODULE controls = LoadLibraryA("COMCTL32.DLL");
  if (controls != nullptr) {
    using InitCommonControlsFunction = void(WINAPI*)();
    const auto init = reinterpret_cast<InitCommonControlsFunction>(GetProcAddress(controls, "InitCommonControls"));
    if (init != nullptr) init();
  }
  return TRUE;
}

}  // namespace

void LoadCommonControls() {
  static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
  InitOnceExecuteOnce(&once, LoadOnce, nullptr, nullptr);
}
