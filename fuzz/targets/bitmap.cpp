// Splash images (EncodeBitmapFile): .bmp files checked field by field, .png files chunk by chunk and
// decoded. The packed DIB holds its header and pixels: a PNG gives a 24- or 32-bit bottom-up DIB of
// exactly its rows, a BMP never more bytes than its file; a refused file leaves the output alone.
#include <cstring>

#include "fuzz_support.h"
#include "resource_encoders.h"

using namespace corvane::builder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes dib{7};
  if (EncodeBitmapFile(std::span<const uint8_t>(data, size), dib)) {
    FUZZ_CHECK(dib == Bytes{7});
    return 0;
  }
  uint32_t header, width, height, imageSize;
  FUZZ_CHECK(dib.size() >= 40 || (dib.size() >= 12 && data[0] == 'B'));
  std::memcpy(&header, dib.data(), 4);
  FUZZ_CHECK(dib.size() >= header);
  if (data[0] == 'B') return FUZZ_CHECK(dib.size() <= size - 14), 0;  // a BMP loses its file header
  std::memcpy(&width, &dib[4], 4), std::memcpy(&height, &dib[8], 4), std::memcpy(&imageSize, &dib[20], 4);
  const uint16_t bits = static_cast<uint16_t>(dib[14] | dib[15] << 8);
  FUZZ_CHECK(header == 40 && (bits == 24 || bits == 32) && width >= 1 && width <= 16384 && height >= 1 && height <= 16384);
  const uint64_t stride = (uint64_t{width} * bits + 31) / 32 * 4;
  FUZZ_CHECK(dib.size() == 40 + stride * height && imageSize == stride * height);
  return 0;
}
