// Splash images (EncodeBitmapFile): .bmp files checked field by field, .png files checked chunk by
// chunk and decoded. What comes out is a packed DIB whose header, colour table and pixels lie
// inside it: a PNG gives a 24- or 32-bit bottom-up DIB of exactly its rows, a BMP never more bytes
// than its file. Input: the file.
#include <cstring>

#include "fuzz_support.h"
#include "resource_encoders.h"

using namespace corvane::builder;

namespace {

uint32_t Read32(const Bytes& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes dib{7};
  if (EncodeBitmapFile(std::span<const uint8_t>(data, size), dib)) {
    FUZZ_CHECK(dib == Bytes{7});
    return 0;
  }
  FUZZ_CHECK(dib.size() >= 12);
  const uint32_t headerSize = Read32(dib, 0);
  FUZZ_CHECK(headerSize == 12 || headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 108 ||
             headerSize == 124);
  FUZZ_CHECK(dib.size() >= headerSize);
  if (data[0] == 'B') {
    FUZZ_CHECK(dib.size() <= size - 14);
    FUZZ_CHECK(std::memcmp(dib.data(), data + 14, headerSize) == 0 || headerSize == 124);
    return 0;
  }
  FUZZ_CHECK(headerSize == 40);
  const uint32_t width = Read32(dib, 4), height = Read32(dib, 8);
  const uint16_t bits = static_cast<uint16_t>(dib[14] | dib[15] << 8);
  FUZZ_CHECK(bits == 24 || bits == 32);
  FUZZ_CHECK(width >= 1 && width <= 16384 && height >= 1 && height <= 16384);
  const uint64_t stride = (uint64_t{width} * bits + 31) / 32 * 4;
  FUZZ_CHECK(dib.size() == 40 + stride * height);
  FUZZ_CHECK(Read32(dib, 20) == stride * height);
  return 0;
}
