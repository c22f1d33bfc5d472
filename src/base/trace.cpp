#include "base/trace.h"

#include <cstring>

TraceTarget TraceTo{nullptr, nullptr};

namespace {

// Appends to a line that keeps room for the cut marker and the line end, and notes a cut.
struct LineWriter {
  char* out;
  size_t room;  // characters the text may hold
  size_t length = 0;
  bool cut = false;

  void Put(char c) {
    if (length < room) {
      out[length++] = c;
    } else {
      cut = true;
    }
  }
  void Put(const char* text) {
    for (; *text != '\0' && !cut; ++text) {
      const auto c = static_cast<unsigned char>(*text);
      if (c >= 0x20 && c != 0x7F) {
        Put(*text);
        continue;
      }
      // Whole or not at all: a cut escape would read as another character.
      if (length + 4 > room) {
        cut = true;
        break;
      }
      Put('\\');
      Put('x');
      Put("0123456789ABCDEF"[c >> 4]);
      Put("0123456789ABCDEF"[c & 0xF]);
    }
  }
};

}  // namespace

DecimalText::DecimalText(int64_t value) {
  // By hand: the C runtime's formatted output would cost the stub more than the whole trace.
  char digits[24];
  size_t count = 0;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  size_t at = 0;
  if (value < 0) text[at++] = '-';
  while (count > 0) text[at++] = digits[--count];
  text[at] = '\0';
}

size_t FormatTraceLine(char* out, size_t capacity, uint32_t milliseconds, std::initializer_list<const char*> pieces) {
  if (out == nullptr || capacity < 8) return 0;
  // "..." CR LF and the terminator always fit after the text.
  LineWriter line{out, capacity - 6};
  const DecimalText time(milliseconds);
  for (size_t width = std::strlen(time.text); width < 7; ++width) line.Put(' ');
  line.Put(time.text);
  line.Put(" ms  ");
  for (const char* piece : pieces) {
    if (piece != nullptr) line.Put(piece);
  }
  size_t length = line.length;
  if (line.cut) {
    std::memcpy(out + length, "...", 3);
    length += 3;
  }
  std::memcpy(out + length, "\r\n", 3);
  return length + 2;
}

void Trace(std::initializer_list<const char*> pieces) {
  if (!Tracing()) return;
  char line[TraceLineCapacity];
  const size_t length = FormatTraceLine(line, sizeof(line), TraceTo.milliseconds(), pieces);
  TraceTo.write(line, length);
}

int TraceEnd(const char* how, int status) {
  if (Tracing()) Trace({"end: ", how, ", status ", DecimalText(status).text});
  return status;
}
