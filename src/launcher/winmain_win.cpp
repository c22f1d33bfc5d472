// Entry point of the launcher (graphical subsystem).
#include <windows.h>

#include "launcher/launch_main_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showState) {
  return LaunchMain(instance, previousInstance, commandLine, showState);
}
