#include "base/process_state_win.h"

#include "base/handles_win.h"

std::atomic<bool> ServiceMode{false};
bool ConsoleMode = false;
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

bool ImageIsConsoleProgram() {
  const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
  if (base == nullptr) return false;
  // The loader has mapped and checked these headers before any of our code ran.
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
  return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI;
}
