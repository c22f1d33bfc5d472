#include "base/setting_decode.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/text.h"

bool DecodeFlag(const char* text) { return text == nullptr || text[0] != '0'; }

int32_t DecodeNumber(const char* text) {
  if (text == nullptr) return 0;
  const char* p = text;
  // The same white space as isspace in the C locale.
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<int32_t>(value);
}

char* SubstituteIniName(const char* entry, const char* appName) {
  if (entry == nullptr) entry = "";
  if (appName == nullptr) appName = "";
  const size_t entryLength = std::strlen(entry);
  const size_t appLength = std::strlen(appName);
  // Each substitution consumes at least the 9 characters of "%APPNAME%".
  const size_t capacity = entryLength + (entryLength / 9 + 1) * appLength + 1;
  char* result = static_cast<char*>(std::malloc(capacity));
  if (result == nullptr) return nullptr;
  size_t length = 0;
  const char* runStart = entry;
  bool inName = false;
  for (const char* p = entry; *p != '\0'; ++p) {
    if (*p != '%') continue;
    if (!inName) {
      std::memcpy(result + length, runStart, static_cast<size_t>(p - runStart));
      length += static_cast<size_t>(p - runStart);
    } else if (EqualsIgnoringCase(runStart, static_cast<size_t>(p - runStart), "APPNAME")) {
      std::memcpy(result + length, appName, appLength);
      length += appLength;
    }
    inName = !inName;
    runStart = p + 1;
  }
  // The open run stays; in the name state that is the name without its opening "%".
  const size_t tail = std::strlen(runStart);
  std::memcpy(result + length, runStart, tail);
  length += tail;
  result[length] = '\0';
  if (length == 0) {
    std::free(result);
    result = static_cast<char*>(std::malloc(entryLength + 1));
    if (result != nullptr) std::memcpy(result, entry, entryLength + 1);
  }
  return result;
}

int PriorityClassIndex(int32_t value) { return (value >= 0 && value <= 5) ? static_cast<int>(value) : -1; }
