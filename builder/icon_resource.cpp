// An .ico file is an ICONDIR (reserved 0, type 1, count), `count` 16-byte ICONDIRENTRYs (width,
// height, colour count, reserved, planes, bit count, bytes, offset) and the images. Each image
// becomes an RT_ICON resource as it is; the group repeats the entries with resource ids in place of
// offsets, filled the way windres fills them so that both give the same bytes.
#include <algorithm>
#include <iterator>

#include "byte_order.h"
#include "resource_encoders.h"

namespace corvane::builder {
namespace {

constexpr size_t kDirSize = 6;
constexpr size_t kEntrySize = 16;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};


// Windows draws an icon image from a PNG stream or from a DIB that starts with a bitmap info header.
bool IsIconImage(std::span<const uint8_t> image) {
  if (image.size() >= sizeof kPngSignature &&
      std::equal(std::begin(kPngSignature), std::end(kPngSignature), image.begin())) {
    return true;
  }
  if (image.size() < 4) return false;
  const uint32_t headerSize = Le32(image, 0);
  return (headerSize == 12 || headerSize == 40 || headerSize == 52 || headerSize == 56 ||
          headerSize == 108 || headerSize == 124) &&
         headerSize <= image.size();
}

}  // namespace

Error EncodeIconFile(std::span<const uint8_t> ico, uint16_t firstId, IconResources& out) {
  if (ico.size() < kDirSize) return "the file is too short to be an icon file";
  if (Le16(ico, 0) != 0 || Le16(ico, 2) != 1) return "the file is not an icon (.ico) file";
  const uint16_t count = Le16(ico, 4);
  if (count == 0) return "the icon file holds no images";
  if (ico.size() - kDirSize < size_t{count} * kEntrySize) {
    return "the icon file ends inside its list of " + std::to_string(count) + " images";
  }
  if (firstId == 0 || uint32_t{firstId} + count - 1 > 0xFFFF) {
    return "the icon's " + std::to_string(count) + " images need ids from " +
           std::to_string(firstId) + ", past the largest resource id 65535";
  }

  IconResources result;
  Append16(result.group, 0);
  Append16(result.group, 1);
  Append16(result.group, count);
  for (uint16_t i = 0; i < count; ++i) {
    const size_t entry = kDirSize + size_t{i} * kEntrySize;
    const std::string which = "image " + std::to_string(i + 1) + " of the icon file";
    const uint8_t width = ico[entry], height = ico[entry + 1], colors = ico[entry + 2];
    const uint16_t planes = Le16(ico, entry + 4), bitCount = Le16(ico, entry + 6);
    const uint32_t size = Le32(ico, entry + 8), offset = Le32(ico, entry + 12);
    if (size == 0) return which + " is empty";
    if (offset > ico.size() || size > ico.size() - offset) {
      return which + " lies past the end of the file (" + std::to_string(size) + " bytes at " +
             std::to_string(offset) + ", the file has " + std::to_string(ico.size()) + ")";
    }
    const auto image = ico.subspan(offset, size);
    if (!IsIconImage(image)) return which + " is neither a PNG nor a bitmap";

    // Many icon writers leave planes and bit count 0; windres then puts 1 plane and the fewest
    // bits that hold the colour count.
    uint16_t groupBits = bitCount;
    if (groupBits == 0) {
      while ((1u << groupBits) < colors) ++groupBits;
    }
    result.group.push_back(width);
    result.group.push_back(height);
    result.group.push_back(colors);
    result.group.push_back(0);  // reserved, written 0 whatever the file says
    Append16(result.group, planes != 0 ? planes : 1);
    Append16(result.group, groupBits);
    Append32(result.group, size);
    Append16(result.group, static_cast<uint16_t>(firstId + i));
    result.images.emplace_back(image.begin(), image.end());
  }
  out = std::move(result);
  return std::nullopt;
}

}  // namespace corvane::builder
