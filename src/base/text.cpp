// Text utilities: growable buffer, tokenizer, command-line splitter and path helpers.
// Built for Linux and for the stub (-fno-exceptions -fno-rtti): plain C memory, no std::string.
#include "base/text.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// The buffer grows by the larger of 1024 and four times the appended length, never by a factor
// of its current size. Computed in 64 bits so that the caller can see a result beyond 32 bits.
uint64_t GrowthFor(uint64_t appendedLength) {
  const uint64_t quadruple = 4 * appendedLength;
  return quadruple >= 1025 ? quadruple : 1024;
}

}  // namespace

bool AppendText(TextBuffer* buffer, const char* text) {
  if (buffer == nullptr) return false;
  if (text == nullptr || text[0] == '\0') return true;

  const size_t n = std::strlen(text);
  // Beyond this neither the length nor four times it can be held in the 32-bit fields.
  if (n > UINT32_MAX) return false;

  if (buffer->text == nullptr) {
    const uint64_t capacity = GrowthFor(n);
    if (capacity > UINT32_MAX) return false;
    char* block = static_cast<char*>(std::calloc(static_cast<size_t>(capacity), 1));
    if (block == nullptr) return false;
    std::memcpy(block, text, n);
    buffer->text = block;
    buffer->length = static_cast<uint32_t>(n);
    buffer->capacity = static_cast<uint32_t>(capacity);
    return true;
  }

  const uint64_t needed = static_cast<uint64_t>(buffer->length) + n;
  if (needed + 1 > buffer->capacity) {
    const uint64_t capacity = static_cast<uint64_t>(buffer->capacity) + GrowthFor(n);
    if (capacity > UINT32_MAX) return false;
    // The text may be a piece of this very buffer; realloc would leave it dangling.
    const uintptr_t blockStart = reinterpret_cast<uintptr_t>(buffer->text);
    const uintptr_t source = reinterpret_cast<uintptr_t>(text);
    const bool inside = source >= blockStart && source < blockStart + buffer->capacity;
    const uintptr_t offset = source - blockStart;
    char* block = static_cast<char*>(std::realloc(buffer->text, static_cast<size_t>(capacity)));
    if (block == nullptr) return false;
    buffer->text = block;
    buffer->capacity = static_cast<uint32_t>(capacity);
    if (inside) text = block + offset;
  }
  std::memmove(buffer->text + buffer->length, text, n);
  buffer->length = static_cast<uint32_t>(needed);
  buffer->text[buffer->length] = '\0';
  return true;
}

void FreeTextBuffer(TextBuffer* buffer) {
  if (buffer == nullptr) return;
  std::free(buffer->text);
  buffer->text = nullptr;
  buffer->length = 0;
  buffer->capacity = 0;
}

char* NextToken(char* text, const char* delimiters, char** position) {
  if (position == nullptr) return nullptr;
  if (text == nullptr) {
    *position = nullptr;
    return nullptr;
  }
  if (delimiters == nullptr) delimiters = "";

  char* p = *position != nullptr ? *position : text;
  if (*position != nullptr && *p == '\0') {
    *position = nullptr;
    return nullptr;
  }
  // strchr would find the terminator itself in the delimiter set, hence the explicit test of *p.
  while (*p != '\0' && std::strchr(delimiters, *p) != nullptr) ++p;
  if (*p == '\0') {
    *position = nullptr;
    return nullptr;
  }
  char* token = p;
  char* end = std::strpbrk(token, delimiters);
  if (end != nullptr) {
    *end = '\0';
    *position = end + 1;
  } else {
    *position = token + std::strlen(token);
  }
  return token;
}

namespace {

// Walks the tokens of a command line and hands each one (start, length) to `visit`; stops early
// when `visit` answers false, and then answers false. The rules, kept as command lines and option
// texts have always been split here:
// - leading spaces are skipped; after that every unquoted space (0x20 only) ends a token, so two
//   spaces make an empty token between them, and a text of spaces alone makes one empty token;
// - a double quote toggles quoting, a backslash escapes the next character other than a space;
// - a final space makes no token after it, even an open quote's.
// Each token is then copied by CopyArgument and unescaped by UnescapeArgument.
template <typename Visitor>
bool ScanTokens(const char* text, Visitor visit) {
  if (text == nullptr || text[0] == '\0') return true;
  const char* p = text;
  while (*p == ' ') ++p;

  const char* tokenStart = p;
  bool inQuote = false;
  bool escaped = false;
  bool lastWasSpace = false;
  for (; *p != '\0'; ++p) {
    const char c = *p;
    lastWasSpace = c == ' ';
    if (c == ' ') {
      // A space leaves the escape pending: a backslash does not protect the space after it.
      if (!inQuote) {
        if (!visit(tokenStart, static_cast<size_t>(p - tokenStart))) return false;
        tokenStart = p + 1;
      }
      continue;
    }
    if (escaped) {
      escaped = false;
      continue;
    }
    if (c == '\\') {
      escaped = true;
    } else if (c == '"') {
      inQuote = !inQuote;
    }
  }
  if (!lastWasSpace) return visit(tokenStart, static_cast<size_t>(p - tokenStart));
  return true;
}

// One argument: a token that starts with a double quote loses its first and its last character,
// whatever that last character is.
char* CopyArgument(const char* start, size_t length) {
  if (length > 0 && start[0] == '"') {
    ++start;
    length = length >= 2 ? length - 2 : 0;
  }
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, start, length);
  copy[length] = '\0';
  UnescapeArgument(copy);
  return copy;
}

}  // namespace

bool SplitCommandLine(const char* text, int* count, char*** array, bool reserveFirst) {
  if (count == nullptr || array == nullptr) return false;
  *count = 0;
  *array = nullptr;

  // The count, including the reserved entry, must fit in an int.
  const int64_t limit = reserveFirst ? static_cast<int64_t>(INT_MAX) - 1 : INT_MAX;
  int64_t tokens = 0;
  const bool fits = ScanTokens(text, [&](const char*, size_t) { return ++tokens <= limit; });
  if (!fits) return false;

  const int total = static_cast<int>(tokens) + (reserveFirst ? 1 : 0);
  if (total == 0) return true;
  char** entries = static_cast<char**>(std::calloc(static_cast<size_t>(total), sizeof(char*)));
  if (entries == nullptr) return false;

  int next = reserveFirst ? 1 : 0;
  const bool copied = ScanTokens(text, [&](const char* start, size_t length) {
    char* argument = CopyArgument(start, length);
    if (argument == nullptr) return false;
    entries[next++] = argument;
    return true;
  });
  if (!copied) {
    // Half an argument list would be read as a shorter command line.
    FreeArgumentArray(total, entries);
    return false;
  }
  *count = total;
  *array = entries;
  return true;
}

void FreeArgumentArray(int count, char** array) {
  if (array == nullptr) return;
  for (int i = 0; i < count; ++i) std::free(array[i]);
  std::free(array);
}

void UnescapeArgument(char* text) {
  if (text == nullptr) return;
  char* out = text;
  bool escaped = false;
  for (const char* in = text; *in != '\0'; ++in) {
    const char c = *in;
    if (escaped) {
      if (c != '"') *out++ = '\\';
      *out++ = c;
      escaped = false;
    } else if (c == '\\') {
      escaped = true;
    } else if (c != '"') {
      *out++ = c;
    }
  }
  *out = '\0';
}

char* JoinPath(char* destination, const char* first, const char* second) {
  if (destination == nullptr) return nullptr;
  if (first == nullptr || second == nullptr) {
    destination[0] = '\0';
    return nullptr;
  }
  const size_t firstLength = std::strlen(first);
  const size_t secondLength = std::strlen(second);
  const bool separator = firstLength == 0 || first[firstLength - 1] != '\\';
  const size_t total = firstLength + (separator ? 1 : 0) + secondLength;
  if (total >= PathCapacity) {
    destination[0] = '\0';
    return nullptr;
  }
  // Built aside first: callers pass their destination as one of the parts.
  char joined[PathCapacity];
  std::memcpy(joined, first, firstLength);
  size_t at = firstLength;
  if (separator) joined[at++] = '\\';
  std::memcpy(joined + at, second, secondLength);
  joined[total] = '\0';
  std::memcpy(destination, joined, total + 1);
  return destination;
}

bool CanOpenFile(const char* path) {
  if (path == nullptr) return false;
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

bool EqualsIgnoringCase(const char* a, size_t length, const char* b) {
  if (std::strlen(b) != length) return false;
  for (size_t i = 0; i < length; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

char* CopyText(const char* text) {
  if (text == nullptr) text = "";
  const size_t length = std::strlen(text);
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text, length + 1);
  return copy;
}
