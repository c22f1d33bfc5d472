#include "launcher/second_instance.h"

#include <cstdlib>

#include "base/text.h"

char** SecondInstanceArguments(const char* leadingText, int count, char* const* args, int* total) {
  *total = 0;
  int leadingCount = 0;
  char** leading = nullptr;
  SplitCommandLine(leadingText, &leadingCount, &leading, false);
  if (count < 0) count = 0;
  const int combinedCount = leadingCount + count;
  char** combined = static_cast<char**>(std::calloc(static_cast<size_t>(combinedCount) + 1, sizeof(char*)));
  if (combined == nullptr) {
    FreeArgumentArray(leadingCount, leading);
    return nullptr;
  }
  // The split tokens change owner; the command-line arguments are copied.
  for (int i = 0; i < leadingCount; ++i) combined[i] = leading[i];
  std::free(leading);
  for (int i = 0; i < count; ++i) {
    combined[leadingCount + i] = CopyText(args[i]);
    if (combined[leadingCount + i] == nullptr) {
      FreeArgumentArray(combinedCount, combined);
      return nullptr;
    }
  }
  *total = combinedCount;
  return combined;
}
