// The main class is stored in the string table as hex digits of its bytes XORed with a fixed key,
// so that it does not stand in the executable as plain text. DescrambleText reads such an entry;
// ScrambleText writes one for our own tools.
#pragma once

#include <cstddef>

// Size of DescrambleText's result area, terminator included: a stored entry holds at most
// 2 * (ScrambleAreaSize - 1) hex digits.
constexpr size_t ScrambleAreaSize = 256;

// Decodes a stored entry into a process-wide area of ScrambleAreaSize bytes, valid until the next
// call (the caller copies it). Only upper-case hex digits are meaningful; other characters, an odd
// final digit or digits beyond the area give a defined, terminated result and never overrun it.
const char* DescrambleText(const char* hex);

// Writes the stored form of `plain` (2 upper-case hex digits per byte) into `out`, which holds
// `outSize` bytes. Refuses (answers false, out = "") a text longer than ScrambleAreaSize - 1 bytes,
// or an `out` too small for 2 * length + 1 bytes.
bool ScrambleText(const char* plain, char* out, size_t outSize);
