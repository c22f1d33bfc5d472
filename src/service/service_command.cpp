#include "service/service_command.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Would split differently than it was written once the service's command line is parsed.
bool UnsafeInQuotes(const char* text) {
  const size_t length = std::strlen(text);
  return std::strchr(text, '"') != nullptr || (length > 0 && text[length - 1] == '\\');
}

bool Append(char* out, size_t* used, const char* text) {
  const size_t length = std::strlen(text);
  if (*used + length >= ServiceTextCapacity) return false;
  std::memcpy(out + *used, text, length + 1);
  *used += length;
  return true;
}

}  // namespace

ServiceTextResult BuildServiceCommandLine(char* out, const char* exePath, const char* serviceSwitch, bool withSettings,
                                          const char* name, const char* description, bool manualStart) {
  out[0] = '\0';
  if (withSettings && (UnsafeInQuotes(name) || UnsafeInQuotes(description))) return ServiceTextResult::Unsafe;
  size_t used = 0;
  bool fits = Append(out, &used, "\"") && Append(out, &used, exePath) && Append(out, &used, "\" ") &&
              Append(out, &used, serviceSwitch);
  if (fits && withSettings) {
    fits = Append(out, &used, " \"") && Append(out, &used, name) && Append(out, &used, "\" \"") &&
           Append(out, &used, description) && Append(out, &used, "\" ") &&
           Append(out, &used, manualStart ? "0" : "1");
  }
  if (!fits) {
    out[0] = '\0';
    return ServiceTextResult::TooLong;
  }
  return ServiceTextResult::Built;
}

bool BuildServiceKeyPath(char* out, const char* prefix, const char* name) {
  size_t used = 0;
  out[0] = '\0';
  if (Append(out, &used, prefix) && Append(out, &used, name)) return true;
  out[0] = '\0';
  return false;
}

char* BuildDependencyList(const char* names, size_t* length, bool* failed) {
  *length = 0;
  *failed = false;
  const size_t size = std::strlen(names);
  char* list = static_cast<char*>(std::malloc(size + 2));
  if (list == nullptr) {
    *failed = true;
    return nullptr;
  }
  size_t used = 0;
  for (const char* item = names; *item != '\0';) {
    const size_t itemLength = std::strcspn(item, ";");
    if (itemLength > 0) {
      std::memcpy(list + used, item, itemLength);
      used += itemLength;
      list[used++] = '\0';
    }
    item += itemLength;
    if (*item == ';') ++item;
  }
  if (used == 0) {
    std::free(list);
    return nullptr;
  }
  list[used++] = '\0';
  *length = used;
  return list;
}
