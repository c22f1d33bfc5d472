// Walking a ";"-separated list (JvmPath, PATH) without cutting it. Portable.
#pragma once

#include <cstddef>
#include <cstring>

#include "base/text.h"

// Calls `visit` with each non-empty entry of a ";"-separated list, as a terminated text of at most
// PathCapacity - 1 characters, until it answers true. An entry too long for a path names no file
// and is passed over. The list itself is not cut.
template <typename Visitor>
bool ForEachListEntry(const char* list, Visitor visit) {
  if (list == nullptr) return false;
  const char* entry = list;
  while (*entry != '\0') {
    const char* end = std::strchr(entry, ';');
    const size_t length = end != nullptr ? static_cast<size_t>(end - entry) : std::strlen(entry);
    if (length > 0 && length < PathCapacity) {
      char text[PathCapacity];
      std::memcpy(text, entry, length);
      text[length] = '\0';
      if (visit(text)) return true;
    }
    if (end == nullptr) break;
    entry = end + 1;
  }
  return false;
}
