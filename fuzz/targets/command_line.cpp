// Command lines and option texts (SplitCommandLine, UnescapeArgument), ";"-lists (NextToken) and
// JoinPath. Input: the text, a zero byte, a second text (the other part of a joined path).
#include <cstring>
#include <string>

#include "base/text.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto pieces = Pieces(data, size, 2);
  const std::string text = CText(pieces[0]), second = CText(pieces[1]);

  int count = -1, reservedCount = -1;
  char** args = nullptr;
  char** reserved = nullptr;
  SplitCommandLine(text.c_str(), &count, &args, false);
  SplitCommandLine(text.c_str(), &reservedCount, &reserved, true);
  FUZZ_CHECK(count >= 0 && (count == 0) == (args == nullptr));
  // The reserved entry comes on top of the same arguments.
  FUZZ_CHECK(reservedCount == count + 1 && reserved != nullptr && reserved[0] == nullptr);
  for (int i = 0; i < count; ++i) {
    FUZZ_CHECK(args[i] != nullptr && reserved[i + 1] != nullptr);
    FUZZ_CHECK(std::strlen(args[i]) <= text.size());
    FUZZ_CHECK(std::strcmp(args[i], reserved[i + 1]) == 0);
  }
  // Every token ends at an unquoted space, so there are never more of them than spaces plus one.
  size_t spaces = 0;
  for (char c : text) spaces += c == ' ';
  FUZZ_CHECK(static_cast<size_t>(count) <= spaces + 1);
  FreeArgumentArray(count, args);
  FreeArgumentArray(reservedCount, reserved);

  std::string unescaped = text;
  UnescapeArgument(unescaped.data());
  FUZZ_CHECK(std::strlen(unescaped.c_str()) <= text.size());

  // A ";"-list: non-empty tokens without the delimiter, in order, none of them invented.
  std::string list = text;
  char* position = nullptr;
  size_t tokenBytes = 0;
  for (char* token = NextToken(list.data(), ";", &position); token != nullptr;
       token = NextToken(list.data(), ";", &position)) {
    const size_t length = std::strlen(token);
    FUZZ_CHECK(length > 0 && std::strchr(token, ';') == nullptr);
    FUZZ_CHECK(token >= list.data() && token + length <= list.data() + text.size());
    tokenBytes += length;
  }
  FUZZ_CHECK(tokenBytes <= text.size());

  char joined[PathCapacity];
  std::memset(joined, 'x', sizeof joined);
  const char* result = JoinPath(joined, text.c_str(), second.c_str());
  const bool separator = text.empty() || text.back() != '\\';
  const std::string expected = text + (separator ? "\\" : "") + second;
  if (expected.size() < PathCapacity) {
    FUZZ_CHECK(result == joined && expected == joined);
  } else {
    FUZZ_CHECK(result == nullptr && joined[0] == '\0');
  }
  return 0;
}
