#include "runtime/runtime_paths.h"

#include <cstring>

namespace {

bool IsAbsolute(const char* path) { return path[0] == '\\' || path[0] == '\0' || path[1] == '\0' || path[1] == ':'; }

void UseBackslashes(char* path) {
  for (char* p = path; *p != '\0'; ++p) {
    if (*p == '/') *p = '\\';
  }
}

}  // namespace

bool RuntimeLoadPath(const char* currentDirectory, const char* jvmDll, char* out) {
  const size_t length = std::strlen(jvmDll);
  if (length >= PathCapacity) return false;
  char path[PathCapacity];
  std::memcpy(path, jvmDll, length + 1);
  UseBackslashes(path);
  if (IsAbsolute(path)) {
    std::memcpy(out, path, length + 1);
  } else if (JoinPath(out, currentDirectory, path) == nullptr) {
    return false;
  }
  return true;
}

bool RuntimeBinFolder(const char* loadPath, char* out) {
  const size_t length = std::strlen(loadPath);
  if (length + 7 >= PathCapacity) return false;
  std::memcpy(out, loadPath, length);
  std::strcpy(out + length, "\\..\\..\\");
  UseBackslashes(out);
  return true;
}
