#include "base/start_paths.h"

#include <cstdlib>
#include <cstring>

void ExecutableDirectory(const char* executablePath, char* directory) {
  std::strcpy(directory, executablePath);
  char* lastSlash = std::strrchr(directory, '\\');
  if (lastSlash == nullptr) return;
  // "C:" alone would name the drive's current directory, not its root.
  const bool driveRoot = lastSlash == directory + 2 && directory[1] == ':';
  lastSlash[driveRoot ? 1 : 0] = '\0';
}

char* DeriveAppName(const char* executablePath) {
  const char* slash = std::strrchr(executablePath, '\\');
  const char* name = slash != nullptr ? slash + 1 : executablePath;
  // Only a dot in the file name itself starts the extension (not one in a directory name).
  const char* dot = std::strrchr(name, '.');
  const size_t length = dot != nullptr ? static_cast<size_t>(dot - name) : std::strlen(name);
  char* appName = static_cast<char*>(std::malloc(length + 1));
  if (appName == nullptr) return nullptr;
  std::memcpy(appName, name, length);
  appName[length] = '\0';
  return appName;
}

bool IsPlainHexName(const char* name) {
  if (name == nullptr || *name == '\0') return false;
  for (; *name != '\0'; ++name) {
    const char c = *name;
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

TempDirNaming ComposeTempDir(int32_t mode, const char* storedName, bool (*systemTemp)(char* folder), char* out) {
  out[0] = '\0';
  if (mode == 0) {
    std::strcpy(out, ".");
    return TempDirNaming::Named;
  }
  if (!IsPlainHexName(storedName)) return TempDirNaming::NotHex;
  char base[PathCapacity];
  if (mode == 1) {
    std::strcpy(base, ".");
  } else if (!systemTemp(base)) {
    return TempDirNaming::NoSystemFolder;
  }
  return JoinPath(out, base, storedName) != nullptr ? TempDirNaming::Named : TempDirNaming::TooLong;
}
