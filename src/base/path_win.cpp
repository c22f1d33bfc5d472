// ClassifyPath: the one text utility that asks the file system, so the one that needs Windows.
#include <windows.h>

#include <cstring>

#include "base/text.h"

int ClassifyPath(const char* path) {
  if (path == nullptr) return -1;
  // A "%" means a variable reference is still unexpanded; the text names no real path yet.
  if (std::strchr(path, '%') != nullptr) return 0;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
}
