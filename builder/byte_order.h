// Little-endian fields of Windows file formats, and the arithmetic of offsets into untrusted data.
// Callers check bounds (Fits) before they read or write.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "error.h"

namespace corvane::builder {

// Whether `length` bytes from `offset` lie inside `size` bytes, without overflowing.
inline bool Fits(uint64_t size, uint64_t offset, uint64_t length) { return offset <= size && length <= size - offset; }

inline uint16_t Le16(std::span<const uint8_t> b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
inline uint32_t Le32(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
inline uint32_t Be32(std::span<const uint8_t> b, size_t at) {
  return (static_cast<uint32_t>(b[at]) << 24) | (static_cast<uint32_t>(b[at + 1]) << 16) |
         (static_cast<uint32_t>(b[at + 2]) << 8) | b[at + 3];
}

// Writes over bytes that exist.
inline void Put16(std::span<uint8_t> b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(std::span<uint8_t> b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Appends to the end.
inline void Append16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Append32(Bytes& b, uint32_t v) {
  Append16(b, static_cast<uint16_t>(v));
  Append16(b, static_cast<uint16_t>(v >> 16));
}

inline uint64_t AlignUp(uint64_t v, uint64_t alignment) { return (v + alignment - 1) / alignment * alignment; }

inline std::string Hex(uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
  return text;
}

}  // namespace corvane::builder
