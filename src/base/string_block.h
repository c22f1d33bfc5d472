// Reading message texts out of a string-table block (16 entries, each a 16-bit length and that many
// UTF-16 units), with every length checked against the block's size, and the message escapes.
#pragma once

#include <cstddef>
#include <cstdint>

// Finds entry `index` (0..15) of a block of `blockSize` bytes. On success *offset is the byte offset of
// its first unit and *unitCount its length. An entry, or any entry before it, whose length runs past
// the end of the block makes the answer false (the message then reads as empty).
bool FindStringBlockEntry(const unsigned char* block, size_t blockSize, unsigned index, size_t* offset,
                          size_t* unitCount);

// Rewrites a message in place: a backslash followed by "n" becomes a line feed, a backslash before any
// other character stays with it, a backslash at the very end is dropped.
void ExpandMessageEscapes(char* text);
