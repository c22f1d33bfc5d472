// Looking inside a runtime's home and reading the registry's runtime values: shared by every search
// digit that knows a home (the older installers' rows, today's installers, PATH).
#include "runtime/runtime_lookup_win.h"

#include <cstring>

#include "base/directory_walk_win.h"
#include "base/handles_win.h"
#include "base/launch_config.h"
#include "base/list_entries.h"

bool CopyIfFits(char* out, size_t size, const char* text) {
  const size_t length = std::strlen(text);
  if (length >= size) {
    if (size > 0) out[0] = '\0';
    return false;
  }
  std::memcpy(out, text, length + 1);
  return true;
}

bool TryUnderHome(const char* home, const char* subpath, char* result, size_t size, bool (*accept)(const char* path)) {
  char candidate[PathCapacity];
  if (JoinPath(candidate, home, subpath) == nullptr) return false;
  return (accept != nullptr ? accept(candidate) : CanOpenFile(candidate)) && CopyIfFits(result, size, candidate);
}

bool FindRuntimeUnderHome(const char* home, const char* preferredSubpath, char* result, size_t size,
                          bool (*accept)(const char* path)) {
  // Each entry of the path list under the home, so that a list of several entries works too.
  if (ForEachListEntry(LaunchConfig.JvmPath, [home, result, size, accept](const char* entry) {
        return TryUnderHome(home, entry, result, size, accept);
      })) {
    return true;
  }
  if (preferredSubpath != nullptr && TryUnderHome(home, preferredSubpath, result, size, accept)) {
    return true;
  }
  char found[PathCapacity];
  return FindJvmDll(home, found) && (accept == nullptr || accept(found)) && CopyIfFits(result, size, found);
}

bool FindJvmDll(const char* directory, char* result) {
  if (result == nullptr) return false;
  result[0] = '\0';
  if (directory == nullptr) return false;
  // Folders that cannot be listed are passed over: the search looks on elsewhere.
  const bool found = WalkDirectory(directory, false, [result](const char* folder, const char* name) {
                       return lstrcmpiA(name, "jvm.dll") == 0 && JoinPath(result, folder, "jvm.dll") != nullptr;
                     }) == WalkResult::Stopped;
  if (!found) result[0] = '\0';
  return found;
}

int QueryRegistryString(HKEY root, const char* subkey, const char* name, char* buffer, size_t size) {
  UniqueKey key;
  if (RegOpenKeyExA(root, subkey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return -1;
  if (buffer == nullptr || size < 2) {
    if (buffer != nullptr && size == 1) buffer[0] = '\0';
    return 1;
  }
  // One byte stays free for the terminator the stored value may lack.
  const size_t room = size - 1;
  DWORD length = room > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(room);
  const DWORD capacity = length;
  DWORD type = REG_NONE;
  const LONG status = RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &length);
  bool readable = status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) && length <= capacity;
  // A value that fills every byte offered without its own terminator may have been cut.
  if (readable && length == capacity && buffer[length - 1] != '\0') readable = false;
  if (!readable) {
    buffer[0] = '\0';
    return 1;
  }
  buffer[length] = '\0';
  return 0;
}
