// The RT_BITMAP resource is a packed DIB: the info header, the colour table (or masks), then the
// pixels right after them, since nothing in a packed DIB says where the pixels start. A .bmp file
// is that with a 14-byte file header in front (which windres simply drops); a .png is decoded here.
// Both come from users, so every size and offset is checked against the file before use.
#include <algorithm>
#include <array>
#include <climits>
#include <memory>

#include "byte_order.h"
#include "resource_encoders.h"

constexpr int kMaxSide = 16384;

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_MAX_DIMENSIONS kMaxSide
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#endif
#include <stb/stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace corvane::builder {
namespace {

// A splash or bitmap larger than this is a mistake, and Windows would have to hold all of it.
constexpr uint64_t kMaxPixelBytes = 256ull << 20;

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderSize = 40;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

enum : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kJpeg = 4, kPng = 5 };
constexpr uint32_t kProfileLinked = 0x4C494E4B;    // 'LINK'
constexpr uint32_t kProfileEmbedded = 0x4D424544;  // 'MBED'


uint64_t Stride(uint64_t width, uint32_t bitCount) { return (width * bitCount + 31) / 32 * 4; }

Error CheckDimensions(uint64_t width, uint64_t height, uint32_t bitCount) {
  if (width > kMaxSide || height > kMaxSide) {
    return "the image is " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels; at most " + std::to_string(kMaxSide) + " pixels a side are accepted";
  }
  if (Stride(width, bitCount) * height > kMaxPixelBytes) {
    return "the image is " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, more than the " + std::to_string(kMaxPixelBytes >> 20) +
           " MiB of pixels accepted";
  }
  return std::nullopt;
}

Error EncodeBmp(std::span<const uint8_t> file, Bytes& dib) {
  if (file.size() < kFileHeaderSize + 4) return "the BMP file is too short";
  const uint32_t fileSize = Le32(file, 2);
  const uint32_t bitsOffset = Le32(file, 10);
  const uint32_t headerSize = Le32(file, kFileHeaderSize);
  if (fileSize > file.size()) {
    return "the BMP file is cut short: its header says " + std::to_string(fileSize) +
           " bytes, the file has " + std::to_string(file.size());
  }
  const bool core = headerSize == 12;
  if (!core && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
      headerSize != 124) {
    return "the BMP file has an info header of " + std::to_string(headerSize) +
           " bytes, which is none of the sizes Windows reads (12, 40, 52, 56, 108, 124)";
  }
  if (headerSize > file.size() - kFileHeaderSize) return "the BMP file ends inside its info header";
  const auto header = file.subspan(kFileHeaderSize, headerSize);

  uint64_t width, height;
  uint32_t bitCount, compression = kRgb, colors = 0, paletteEntrySize = 4, masksSize = 0;
  uint64_t pixelBytes;
  if (core) {
    width = Le16(header, 4);
    height = Le16(header, 6);
    if (Le16(header, 8) != 1) return "the BMP file does not have exactly one plane";
    bitCount = Le16(header, 10);
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24) {
      return "the BMP file has " + std::to_string(bitCount) + " bits per pixel";
    }
    if (bitCount <= 8) colors = 1u << bitCount;
    paletteEntrySize = 3;
  } else {
    const int32_t signedWidth = static_cast<int32_t>(Le32(header, 4));
    const int32_t signedHeight = static_cast<int32_t>(Le32(header, 8));
    if (Le16(header, 12) != 1) return "the BMP file does not have exactly one plane";
    bitCount = Le16(header, 14);
    compression = Le32(header, 16);
    const uint32_t colorsUsed = Le32(header, 32);
    if (signedWidth <= 0 || signedHeight == 0 || signedHeight == INT32_MIN) {
      return "the BMP file says it is " + std::to_string(signedWidth) + " x " +
             std::to_string(signedHeight) + " pixels";
    }
    width = static_cast<uint64_t>(signedWidth);
    height = static_cast<uint64_t>(signedHeight < 0 ? -int64_t{signedHeight} : signedHeight);
    switch (compression) {
      case kRgb:
        if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
            bitCount != 32) {
          return "the BMP file has " + std::to_string(bitCount) + " bits per pixel";
        }
        break;
      case kRle8:
      case kRle4:
        if (bitCount != (compression == kRle8 ? 8u : 4u)) {
          return "the BMP file's run-length compression does not match its " +
                 std::to_string(bitCount) + " bits per pixel";
        }
        if (signedHeight < 0) return "the BMP file is run-length compressed and top-down";
        break;
      case kBitfields:
        if (bitCount != 16 && bitCount != 32) {
          return "the BMP file has colour masks with " + std::to_string(bitCount) +
                 " bits per pixel";
        }
        if (headerSize == kInfoHeaderSize) masksSize = 12;  // larger headers hold the masks
        break;
      case kJpeg:
      case kPng:
        return "the BMP file holds a JPEG or PNG stream, which Windows does not draw as a bitmap";
      default:
        return "the BMP file uses compression " + std::to_string(compression) +
               ", which Windows does not read";
    }
    if (bitCount <= 8) {
      if (colorsUsed > (1u << bitCount)) {
        return "the BMP file's colour table has " + std::to_string(colorsUsed) +
               " entries, more than " + std::to_string(bitCount) + " bits per pixel can use";
      }
      colors = colorsUsed != 0 ? colorsUsed : 1u << bitCount;
    } else {
      colors = colorsUsed;
    }
  }
  if (width == 0 || height == 0) return "the BMP file has no pixels";
  if (Error e = CheckDimensions(width, height, bitCount)) return e;

  const uint64_t tableEnd =
      kFileHeaderSize + headerSize + masksSize + uint64_t{colors} * paletteEntrySize;
  if (tableEnd > file.size()) return "the BMP file's colour table runs past the end of the file";
  if (bitsOffset < tableEnd) {
    return "the BMP file's pixel data offset " + std::to_string(bitsOffset) +
           " points into its headers or colour table, which end at " + std::to_string(tableEnd);
  }
  if (bitsOffset > file.size()) {
    return "the BMP file's pixel data offset " + std::to_string(bitsOffset) +
           " lies past the end of the file";
  }
  if (compression == kRle8 || compression == kRle4) {
    pixelBytes = Le32(header, 20);
    if (pixelBytes == 0) return "the BMP file is run-length compressed but gives no data size";
  } else {
    pixelBytes = Stride(width, bitCount) * height;
  }
  if (pixelBytes > file.size() - bitsOffset) {
    return "the BMP file is cut short: its pixels need " + std::to_string(pixelBytes) +
           " bytes from offset " + std::to_string(bitsOffset) + ", the file has " +
           std::to_string(file.size());
  }

  // Bytes between the colour table and the pixels would be taken for pixels; they are dropped.
  const uint64_t gap = bitsOffset - tableEnd;
  Bytes out(file.begin() + kFileHeaderSize, file.begin() + static_cast<ptrdiff_t>(tableEnd));
  if (gap != 0 && headerSize == 124) {
    const uint32_t colorSpace = Le32(header, 56);
    const uint32_t profileOffset = Le32(header, 112);  // from the start of the info header
    if (colorSpace == kProfileLinked || colorSpace == kProfileEmbedded) {
      const uint64_t profileInFile = kFileHeaderSize + uint64_t{profileOffset};
      if (profileInFile < bitsOffset) {
        return "the BMP file keeps its colour profile before its pixel data, apart from its "
               "colour table; save it again without the profile";
      }
      const uint32_t moved = static_cast<uint32_t>(profileOffset - gap);
      for (int k = 0; k < 4; ++k) out[112 + k] = static_cast<uint8_t>(moved >> (8 * k));
    }
  }
  out.insert(out.end(), file.begin() + bitsOffset, file.end());
  dib = std::move(out);
  return std::nullopt;
}

// --- PNG ---

constexpr std::array<uint32_t, 256> kCrcTable = [] {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}();

uint32_t Crc32(std::span<const uint8_t> data) {
  uint32_t c = 0xFFFFFFFFu;
  for (uint8_t b : data) c = kCrcTable[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::string ChunkName(std::span<const uint8_t> type) {
  std::string name;
  for (uint8_t c : type) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return "a";
    name.push_back(static_cast<char>(c));
  }
  return "its " + name;
}

// The decoder does not look at checksums and reads past damage; the chunks are checked first so
// that a damaged file is reported rather than shown wrong.
Error CheckPngChunks(std::span<const uint8_t> file, uint32_t& width, uint32_t& height) {
  size_t at = sizeof kPngSignature;
  bool first = true;
  for (;;) {
    if (file.size() - at < 12) return "the PNG file is cut short";
    const uint32_t length = Be32(file, at);
    if (length > 0x7FFFFFFFu) return "the PNG file is damaged (a chunk length is invalid)";
    if (length > file.size() - at - 12) return "the PNG file is cut short";
    const auto type = file.subspan(at + 4, 4);
    if (Crc32(file.subspan(at + 4, 4 + size_t{length})) != Be32(file, at + 8 + length)) {
      return "the PNG file is damaged (the checksum of " + ChunkName(type) + " chunk is wrong)";
    }
    const bool header = std::equal(type.begin(), type.end(), "IHDR");
    if (first) {
      if (!header || length != 13) return "the PNG file does not start with its header";
      width = Be32(file, at + 8);
      height = Be32(file, at + 12);
    }
    first = false;
    if (std::equal(type.begin(), type.end(), "IEND")) return std::nullopt;
    at += 12 + size_t{length};
  }
}

Error EncodePng(std::span<const uint8_t> file, Bytes& dib) {
  uint32_t headerWidth = 0, headerHeight = 0;
  if (Error e = CheckPngChunks(file, headerWidth, headerHeight)) return e;
  if (headerWidth == 0 || headerHeight == 0) return "the PNG image has no pixels";
  // Before decoding, so that a small file cannot make the decoder allocate gigabytes.
  if (Error e = CheckDimensions(headerWidth, headerHeight, 32)) return e;
  if (file.size() > INT_MAX) return "the PNG file is too large";
  const auto* data = reinterpret_cast<const stbi_uc*>(file.data());
  const int length = static_cast<int>(file.size());
  int width = 0, height = 0, channels = 0;
  std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
      stbi_load_from_memory(data, length, &width, &height, &channels, 4), stbi_image_free);
  if (!pixels) return std::string("the PNG file cannot be decoded (") + stbi_failure_reason() + ")";
  if (static_cast<uint32_t>(width) != headerWidth || static_cast<uint32_t>(height) != headerHeight) {
    return "the PNG file cannot be decoded (its size is unclear)";
  }

  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  const uint8_t* rgba = pixels.get();
  bool opaque = true;
  for (size_t i = 0; i < w * h && opaque; ++i) opaque = rgba[4 * i + 3] == 0xFF;
  const uint16_t bitCount = opaque ? 24 : 32;
  const size_t stride = static_cast<size_t>(Stride(w, bitCount));

  Bytes out;
  out.reserve(kInfoHeaderSize + stride * h);
  Append32(out, kInfoHeaderSize);
  Append32(out, static_cast<uint32_t>(width));
  Append32(out, static_cast<uint32_t>(height));  // positive: rows bottom-up
  Append16(out, 1);
  Append16(out, bitCount);
  Append32(out, kRgb);
  Append32(out, static_cast<uint32_t>(stride * h));
  Append32(out, 0);  // no resolution
  Append32(out, 0);
  Append32(out, 0);  // no colour table
  Append32(out, 0);
  for (size_t row = h; row-- > 0;) {
    const uint8_t* p = rgba + row * w * 4;
    const size_t rowStart = out.size();
    for (size_t x = 0; x < w; ++x, p += 4) {
      out.push_back(p[2]);
      out.push_back(p[1]);
      out.push_back(p[0]);
      if (!opaque) out.push_back(p[3]);
    }
    out.resize(rowStart + stride, 0);
  }
  dib = std::move(out);
  return std::nullopt;
}

}  // namespace

Error EncodeBitmapFile(std::span<const uint8_t> file, Bytes& dib) {
  if (file.size() >= 2 && file[0] == 'B' && file[1] == 'M') return EncodeBmp(file, dib);
  if (file.size() >= sizeof kPngSignature &&
      std::equal(std::begin(kPngSignature), std::end(kPngSignature), file.begin())) {
    return EncodePng(file, dib);
  }
  return "the file is neither a BMP nor a PNG image";
}

}  // namespace corvane::builder
