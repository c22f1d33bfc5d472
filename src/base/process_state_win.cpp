#include "base/process_state_win.h"

#include "base/handles_win.h"

std::atomic<bool> ServiceMode{false};
HINSTANCE InstanceHandle = nullptr;
char TempDir[PathCapacity];
char StartDir[PathCapacity + 1];
char* AppName = nullptr;
char RegistryJavaHome[PathCapacity] = "";
std::atomic<HANDLE> InstanceMutex{nullptr};
std::atomic<HANDLE> EventSource{nullptr};

void CloseInstanceMutex() { const UniqueMutex closing(InstanceMutex.exchange(nullptr)); }

void CloseEventSource() { const UniqueEventSource closing(EventSource.exchange(nullptr)); }

bool FitsBuffer(DWORD length, size_t capacity) {
  if (length == 0) return false;
  if (length >= capacity) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  return true;
}

bool GetExecutablePath(char* path) {
  return FitsBuffer(GetModuleFileNameA(nullptr, path, PathCapacity), PathCapacity);
}
