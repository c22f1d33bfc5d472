#include "base/file_names.h"

#include <cstring>

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool IsDeviceName(const char* name) {
  size_t length = std::strcspn(name, ".");
  while (length > 0 && name[length - 1] == ' ') --length;
  char stem[8] = {};
  if (length >= sizeof(stem)) return false;
  for (size_t i = 0; i < length; ++i) stem[i] = Lower(name[i]);
  static const char* const devices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  for (const char* device : devices) {
    if (std::strcmp(stem, device) == 0) return true;
  }
  return length == 4 && (std::strncmp(stem, "com", 3) == 0 || std::strncmp(stem, "lpt", 3) == 0) && stem[3] >= '0' &&
         stem[3] <= '9';
}
