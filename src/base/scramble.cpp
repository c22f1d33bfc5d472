#include "base/scramble.h"

#include <cstring>

namespace {

// 16 printable characters; the key sequence is these followed by one zero byte (17 bytes), so every
// 17th byte of a stored text is left as it is.
constexpr char ScrambleKey[] = "Vq7Kd3Rm9Xw1Lp5T";
constexpr size_t KeyPeriod = sizeof(ScrambleKey);  // 16 characters and the zero byte

char DescrambleArea[ScrambleAreaSize];

// Digits give 0..9, every other character its code minus 55 (so 'A'..'F' give 10..15). Stored
// entries only hold upper-case digits; anything else still decodes to some defined byte.
int HexValue(char c) {
  const int code = static_cast<unsigned char>(c);
  return (c >= '0' && c <= '9') ? code - '0' : code - 55;
}

}  // namespace

const char* DescrambleText(const char* hex) {
  std::memset(DescrambleArea, 0, sizeof(DescrambleArea));
  if (hex == nullptr) return DescrambleArea;
  const size_t length = std::strlen(hex);
  // The last byte of the area stays zero, whatever the length of the entry.
  const size_t maxBytes = ScrambleAreaSize - 1;
  size_t decoded = 0;
  for (size_t i = 0; i < length && decoded < maxBytes; i += 2) {
    // With an odd length the last digit pairs with the terminator, which hex[length] is.
    const int value = 16 * HexValue(hex[i]) + HexValue(hex[i + 1]);
    DescrambleArea[decoded++] = static_cast<char>(value & 0xFF);
  }
  size_t xorCount = length / 2;
  if (xorCount > maxBytes) xorCount = maxBytes;
  for (size_t j = 0; j < xorCount; ++j) {
    DescrambleArea[j] = static_cast<char>(DescrambleArea[j] ^ ScrambleKey[j % KeyPeriod]);
  }
  return DescrambleArea;
}

bool ScrambleText(const char* plain, char* out, size_t outSize) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  if (out == nullptr || outSize == 0) return false;
  out[0] = '\0';
  if (plain == nullptr) return true;
  const size_t length = std::strlen(plain);
  if (length > ScrambleAreaSize - 1 || outSize < 2 * length + 1) return false;
  for (size_t j = 0; j < length; ++j) {
    const unsigned char byte =
        static_cast<unsigned char>(plain[j]) ^ static_cast<unsigned char>(ScrambleKey[j % KeyPeriod]);
    out[2 * j] = Digits[byte >> 4];
    out[2 * j + 1] = Digits[byte & 0x0F];
  }
  out[2 * length] = '\0';
  return true;
}
