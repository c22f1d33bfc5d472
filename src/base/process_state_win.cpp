#include "base/process_state_win.h"

std::atomic<bool> ServiceMode{false};
HINSTANCE InstanceHandle = nullptr;
char TempDir[PathCapacity];
char StartDir[PathCapacity + 1];
char* AppName = nullptr;
HANDLE InstanceMutex = nullptr;
