// The most recent output of the VM and the application, kept for error reports: a fixed ring of
// whole lines, and the line splitter of the capture pipe's reader. Portable; the callers hold
// OutputLock around every ring operation.
#pragma once

#include <cstddef>

constexpr size_t OutputRingCapacity = 8192;
// The reader passes on a piece this long even without a line end.
constexpr size_t PipeLineCapacity = 1024;

struct OutputRingRecord {
  char text[OutputRingCapacity];  // NUL-terminated
  size_t fill;                    // text bytes, at most OutputRingCapacity - 1
};

// Adds `count` bytes at the end, first dropping whole lines from the front until they fit (or
// everything, when no line end lies far enough in). More than the ring can hold is cut to its
// first OutputRingCapacity - 1 bytes.
void AppendToRing(OutputRingRecord* ring, const char* bytes, size_t count);

// Copies the text out (NUL-terminated, cut to `capacity`) and empties the ring; answers the bytes
// copied.
size_t TakeRingText(OutputRingRecord* ring, char* out, size_t capacity);

using LineSink = void (*)(const char* bytes, size_t count, void* context);

// The reader's line buffer: bytes are read into its free part, then Take passes on every complete
// line (through its LF) and every full buffer, keeping the unfinished rest.
struct PipeLines {
  char buffer[PipeLineCapacity];
  size_t fill;
};
inline char* FreePart(PipeLines* lines) { return lines->buffer + lines->fill; }
inline size_t FreeSize(const PipeLines* lines) { return PipeLineCapacity - lines->fill; }
// `added` bytes were just read into the free part.
void TakeLines(PipeLines* lines, size_t added, LineSink sink, void* context);
// The pipe has ended: an unfinished last line is passed on too, so the last words are not lost.
void FlushLines(PipeLines* lines, LineSink sink, void* context);
