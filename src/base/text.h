// Text utilities shared by every part of the launcher: 8-bit ANSI, NUL-terminated texts, a growable
// buffer, a tokenizer with a caller-held position, the command-line splitter and path helpers.
// Nothing here reports to the user. Portable: no <windows.h> (ClassifyPath lives in path_win.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <memory>

// Growable NUL-terminated text. Starts zeroed; `text` stays null until the first non-empty append.
// While `text` is set, `length` == strlen(text) <= capacity - 1.
struct TextBuffer {
  char* text;
  uint32_t length;
  uint32_t capacity;
};

// Appends `text` (null or empty: nothing happens, answers true). Grows by the larger of 1024 and
// four times the appended length. Answers false, leaving the buffer as it was, when the size would
// not fit in 32 bits or memory runs out.
bool AppendText(TextBuffer* buffer, const char* text);

// Frees the buffer's block and zeroes the buffer.
void FreeTextBuffer(TextBuffer* buffer);

// A TextBuffer owned by a scope.
struct ScopedTextBuffer : TextBuffer {
  ScopedTextBuffer() : TextBuffer{nullptr, 0, 0} {}
  ~ScopedTextBuffer() { FreeTextBuffer(this); }
  ScopedTextBuffer(const ScopedTextBuffer&) = delete;
  ScopedTextBuffer& operator=(const ScopedTextBuffer&) = delete;
};

// Re-entrant tokenizer: the whole state is *position (null before the first call). Cuts the text in
// place; empty fields give no token. Answers null when there is no further token.
char* NextToken(char* text, const char* delimiters, char** position);

// Splits a command line or option text into a heap array of heap strings (see the quoting rules in
// text.cpp). With reserveFirst, entry 0 stays null and the tokens start at index 1. The caller frees
// the result with FreeArgumentArray. Only an empty text splits into nothing. When memory runs out,
// or the count would not fit in an int, nothing is split (count 0, array null) and the answer is
// false.
bool SplitCommandLine(const char* text, int* count, char*** array, bool reserveFirst);
void FreeArgumentArray(int count, char** array);

// An argument array of SplitCommandLine's kind, freed with its scope.
struct ArgumentList {
  int count = 0;
  char** items = nullptr;
  ArgumentList() = default;
  ~ArgumentList() { FreeArgumentArray(count, items); }
  ArgumentList(const ArgumentList&) = delete;
  ArgumentList& operator=(const ArgumentList&) = delete;
};

// Removes quoting from one argument in place (never makes it longer).
void UnescapeArgument(char* text);

// Paths are held in buffers of this many characters, terminator included.
constexpr size_t PathCapacity = 260;

// destination = first + "\" (unless first already ends with one) + second. The destination holds
// PathCapacity characters; a result that does not fit, or a null part, is refused: destination
// becomes "" and the answer is null. Otherwise answers destination. The destination may be one of
// the parts.
char* JoinPath(char* destination, const char* first, const char* second);

// 1 existing directory, 0 anything else or not examined (the path holds a "%"), -1 attributes
// unreadable (also for a null path).
int ClassifyPath(const char* path);

// True when the file opens for reading.
bool CanOpenFile(const char* path);

// Heap texts handed between parts are malloc'd; this owns one.
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using HeapText = std::unique_ptr<char, FreeDeleter>;

// A malloc'd copy of text (null text gives ""); null only when memory runs out.
char* CopyText(const char* text);

// Whether the first `length` characters of `a` are `b` whole, ASCII letters in either case.
bool EqualsIgnoringCase(const char* a, size_t length, const char* b);
inline bool EqualsIgnoringCase(const char* a, const char* b) { return EqualsIgnoringCase(a, std::strlen(a), b); }
