// The layout of the archives a launcher carries (resource RCDATA 1): a signed 32-bit count, then
// per entry a NUL-terminated bare file name, the last-write FILETIME (low, high) and a 32-bit size,
// followed by the data. All little-endian. The resource is data anybody can edit, so it is read
// with every length checked against its end. Portable; corvane-build writes the same layout.
#pragma once

#include <cstddef>
#include <cstdint>

// Why a name cannot be an archive's file name inside the temporary folder (None: it can).
enum class ArchiveNameProblem {
  None,
  Empty,
  TooLong,           // more than MaxArchiveNameLength bytes
  ControlCharacter,  // below 0x20
  NotBare,           // holds one of / \ : * ? " < > |
  DotName,           // "." or ".."
  TrailingDotOrBlank,
  Device,  // CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9, with or without an extension
};
constexpr size_t MaxArchiveNameLength = 200;

ArchiveNameProblem ClassifyArchiveName(const char* name);

struct ArchiveEntryView {
  const char* name;  // NUL-terminated inside the resource
  uint32_t timeLow, timeHigh;
  uint32_t size;
  const uint8_t* data;
};

enum class ArchiveLayoutResult {
  Complete,  // every entry the count announces lies inside the resource
  Empty,     // too short to hold a count, or a count of 0 or less
  Damaged,   // an entry runs past the end (count, name, header or size): nothing may be used
};

// Checks the whole resource first; only a complete one is handed to `visit`, entry by entry in
// order (visit answers false to stop). `count` receives the count field (0 when unreadable).
ArchiveLayoutResult ReadArchiveLayout(const uint8_t* bytes, size_t size, int32_t* count,
                                      bool (*visit)(const ArchiveEntryView& entry, void* context), void* context);
