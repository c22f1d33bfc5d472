#include "base/string_block.h"

bool FindStringBlockEntry(const unsigned char* block, size_t blockSize, unsigned index, size_t* offset,
                          size_t* unitCount) {
  if (block == nullptr || index > 15) return false;
  size_t position = 0;
  for (unsigned entry = 0;; ++entry) {
    if (blockSize - position < 2) return false;  // position never passes blockSize
    const size_t units = block[position] | (static_cast<size_t>(block[position + 1]) << 8);
    position += 2;
    if (units > (blockSize - position) / 2) return false;
    if (entry == index) {
      *offset = position;
      *unitCount = units;
      return true;
    }
    position += 2 * units;
  }
}

void ExpandMessageEscapes(char* text) {
  if (text == nullptr) return;
  char* out = text;
  for (const char* in = text; *in != '\0'; ++in) {
    if (*in != '\\') {
      *out++ = *in;
    } else if (in[1] == 'n') {
      *out++ = '\n';
      ++in;
    } else if (in[1] != '\0') {
      *out++ = '\\';
      *out++ = *++in;
    }
  }
  *out = '\0';
}
