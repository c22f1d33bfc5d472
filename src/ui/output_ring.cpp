#include "ui/output_ring.h"

#include <cstring>

void AppendToRing(OutputRingRecord* ring, const char* bytes, size_t count) {
  if (count > OutputRingCapacity - 1) count = OutputRingCapacity - 1;
  if (ring->fill + count >= OutputRingCapacity) {
    // Make room by whole lines: the first line end at or after count - 1 frees at least count bytes.
    const char* end = nullptr;
    if (count > 0 && count - 1 < ring->fill) {
      end = static_cast<const char*>(std::memchr(ring->text + count - 1, '\n', ring->fill - (count - 1)));
    }
    if (end != nullptr) {
      const size_t dropped = static_cast<size_t>(end - ring->text) + 1;
      std::memmove(ring->text, ring->text + dropped, ring->fill - dropped);
      ring->fill -= dropped;
    } else {
      ring->fill = 0;
    }
  }
  std::memcpy(ring->text + ring->fill, bytes, count);
  ring->fill += count;
  ring->text[ring->fill] = '\0';
}

size_t TakeRingText(OutputRingRecord* ring, char* out, size_t capacity) {
  if (capacity == 0) return 0;
  size_t count = ring->fill < capacity - 1 ? ring->fill : capacity - 1;
  std::memcpy(out, ring->text, count);
  out[count] = '\0';
  ring->fill = 0;
  ring->text[0] = '\0';
  return count;
}

void TakeLines(PipeLines* lines, size_t added, LineSink sink, void* context) {
  if (added > FreeSize(lines)) added = FreeSize(lines);
  lines->fill += added;
  for (;;) {
    const char* end = static_cast<const char*>(std::memchr(lines->buffer, '\n', lines->fill));
    if (end == nullptr) break;
    const size_t line = static_cast<size_t>(end - lines->buffer) + 1;
    sink(lines->buffer, line, context);
    std::memmove(lines->buffer, lines->buffer + line, lines->fill - line);
    lines->fill -= line;
  }
  if (lines->fill == PipeLineCapacity) {
    sink(lines->buffer, lines->fill, context);
    lines->fill = 0;
  }
}

void FlushLines(PipeLines* lines, LineSink sink, void* context) {
  if (lines->fill > 0) sink(lines->buffer, lines->fill, context);
  lines->fill = 0;
}
