// The %NAME% scanner and the memory values. Built for Linux and for the stub (-fno-exceptions
// -fno-rtti): plain C memory, no std::string.
#include "base/variable_expansion.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/setting_decode.h"
#include "base/text.h"

namespace {

// Values computed by the lookups are written here; one per call, so that two expansions running at
// once (two service stop calls) never see each other's values.
constexpr size_t ScratchCapacity = PathCapacity;

constexpr char MemoryAvailable[] = "AVAILRAM";
constexpr char MemoryTotal[] = "TOTALRAM";
constexpr size_t MemoryPrefixLength = sizeof(MemoryAvailable) - 1;

// Drops one leading and one trailing double quote (a lone quote is both) and appends the rest.
bool AppendUnquoted(TextBuffer* output, char* value) {
  if (value == nullptr) return true;
  size_t length = std::strlen(value);
  if (length > 0 && value[0] == '"') {
    ++value;
    --length;
  }
  if (length > 0 && value[length - 1] == '"') value[--length] = '\0';
  return AppendText(output, value);
}

bool AppendLookup(TextBuffer* output, bool (*lookup)(char*, size_t), char* scratch) {
  if (lookup == nullptr) return true;
  scratch[0] = '\0';
  if (!lookup(scratch, ScratchCapacity)) return true;
  scratch[ScratchCapacity - 1] = '\0';  // a lookup that forgot its terminator still cannot run over
  return AppendUnquoted(output, scratch);
}

bool AppendMemory(TextBuffer* output, const char* name, const VariableLookups& lookups, char* scratch) {
  uint64_t available = 0, total = 0;
  if (lookups.memory == nullptr || !lookups.memory(&available, &total)) return true;
  const bool wantsTotal = std::strncmp(name, MemoryTotal, MemoryPrefixLength) == 0;
  const int32_t megabytes =
      MemoryMegabytes(MemoryPercentage(name + MemoryPrefixLength), wantsTotal ? total : available);
  // Written by hand: a printf here would pull the C runtime's whole formatter into the stub.
  char digits[16];
  char* p = digits + sizeof(digits);
  *--p = '\0';
  *--p = 'm';
  uint32_t value = megabytes < 0 ? 0u - static_cast<uint32_t>(megabytes) : static_cast<uint32_t>(megabytes);
  do {
    *--p = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  if (megabytes < 0) *--p = '-';
  std::strcpy(scratch, p);
  return AppendUnquoted(output, scratch);
}

// Appends the value of one reference; false only when memory runs out.
bool AppendValue(TextBuffer* output, const char* name, const VariableLookups& lookups, char* scratch) {
  if (std::strcmp(name, "JAVA_HOME") == 0) return AppendText(output, lookups.javaHome);
  if (EqualsIgnoringCase(name, "APPDIR")) return AppendLookup(output, lookups.appDir, scratch);
  if (EqualsIgnoringCase(name, "DATE")) return AppendLookup(output, lookups.date, scratch);
  if (EqualsIgnoringCase(name, "TIME")) return AppendLookup(output, lookups.time, scratch);
  if (std::strncmp(name, MemoryAvailable, MemoryPrefixLength) == 0 ||
      std::strncmp(name, MemoryTotal, MemoryPrefixLength) == 0) {
    return AppendMemory(output, name, lookups, scratch);
  }
  if (name[0] == '\0' || lookups.environment == nullptr) return true;  // "%%" names nothing
  char* value = lookups.environment(name);
  const bool appended = AppendUnquoted(output, value);
  std::free(value);
  return appended;
}

}  // namespace

char* ExpandReferences(const char* text, const VariableLookups& lookups) {
  // A private copy, cut with NULs around each name and put back, since the caller's text is const.
  char* work = CopyText(text);
  if (work == nullptr) return nullptr;
  char scratch[ScratchCapacity];
  ScopedTextBuffer output;

  size_t literalStart = 0;  // first character not yet appended or consumed
  size_t nameStart = 0;
  bool inName = false;
  for (size_t i = 0; work[i] != '\0'; ++i) {
    if (work[i] != '%') continue;
    work[i] = '\0';
    const bool appended = inName ? AppendValue(&output, work + nameStart, lookups, scratch)
                                 : AppendText(&output, work + literalStart);
    work[i] = '%';
    if (!appended) {
      std::free(work);
      return nullptr;
    }
    if (inName) {
      literalStart = i + 1;
    } else {
      nameStart = i + 1;
    }
    inName = !inName;
  }
  // An unclosed reference stays as written, its percent sign included.
  if (!AppendText(&output, work + (inName ? nameStart - 1 : literalStart))) {
    std::free(work);
    return nullptr;
  }

  // References that all expanded to nothing, with no other text: the text comes back as it was.
  if (output.text == nullptr || output.length == 0) return work;
  std::free(work);
  char* result = output.text;
  output.text = nullptr;
  output.length = output.capacity = 0;
  return result;
}

int MemoryPercentage(const char* suffix) {
  if (suffix == nullptr || suffix[0] == '\0') return 100;
  const int32_t percentage = DecodeNumber(suffix);
  return percentage < 1 || percentage > 100 ? 100 : percentage;
}

int32_t MemoryMegabytes(int percentage, uint64_t bytes) {
  const double megabytes = percentage / 100.0 * static_cast<double>(bytes) * (1.0 / 1024) * (1.0 / 1024);
  // Beyond 2^31 - 1 MiB (2 PiB) the conversion would wrap; the largest number still makes a valid
  // option and is more than such a machine's heap needs.
  if (!(megabytes < 2147483648.0)) return INT32_MAX;
  const int32_t truncated = static_cast<int32_t>(megabytes);
  return truncated < 64 ? 64 : truncated;
}
