#include "archives/archive_layout.h"

#include <cstring>

#include "base/file_names.h"

namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// One entry starting at `at`: its view and where the next begins; false when it runs past `size`.
bool ReadEntry(const uint8_t* bytes, size_t size, size_t at, ArchiveEntryView* entry, size_t* next) {
  if (at >= size) return false;
  const void* end = std::memchr(bytes + at, '\0', size - at);
  if (end == nullptr) return false;
  const size_t header = static_cast<size_t>(static_cast<const uint8_t*>(end) - bytes) + 1;
  if (size - header < 12) return false;
  entry->name = reinterpret_cast<const char*>(bytes + at);
  entry->timeLow = Le32(bytes + header);
  entry->timeHigh = Le32(bytes + header + 4);
  entry->size = Le32(bytes + header + 8);
  const size_t data = header + 12;
  if (entry->size > size - data) return false;
  entry->data = bytes + data;
  *next = data + entry->size;
  return true;
}

}  // namespace

ArchiveNameProblem ClassifyArchiveName(const char* name) {
  const size_t length = std::strlen(name);
  if (length == 0) return ArchiveNameProblem::Empty;
  if (length > MaxArchiveNameLength) return ArchiveNameProblem::TooLong;
  for (size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x20) return ArchiveNameProblem::ControlCharacter;
    if (std::strchr("/\\:*?\"<>|", c) != nullptr) return ArchiveNameProblem::NotBare;
  }
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return ArchiveNameProblem::DotName;
  if (name[length - 1] == '.' || name[length - 1] == ' ') return ArchiveNameProblem::TrailingDotOrBlank;
  return IsDeviceName(name) ? ArchiveNameProblem::Device : ArchiveNameProblem::None;
}

ArchiveLayoutResult ReadArchiveLayout(const uint8_t* bytes, size_t size, int32_t* count,
                                      bool (*visit)(const ArchiveEntryView& entry, void* context), void* context) {
  *count = 0;
  if (bytes == nullptr || size < 4) return ArchiveLayoutResult::Empty;
  *count = static_cast<int32_t>(Le32(bytes));
  if (*count <= 0) return ArchiveLayoutResult::Empty;
  // The whole resource is checked before any entry is used: a damaged one is used not at all.
  size_t at = 4;
  for (int32_t i = 0; i < *count; ++i) {
    ArchiveEntryView entry;
    if (!ReadEntry(bytes, size, at, &entry, &at)) return ArchiveLayoutResult::Damaged;
  }
  at = 4;
  for (int32_t i = 0; i < *count; ++i) {
    ArchiveEntryView entry;
    ReadEntry(bytes, size, at, &entry, &at);
    if (!visit(entry, context)) break;
  }
  return ArchiveLayoutResult::Complete;
}
