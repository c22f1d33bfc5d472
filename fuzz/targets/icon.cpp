// .ico files (EncodeIconFile): counts, offsets and sizes checked against the file. An accepted
// file gives one group entry and one image per directory entry, each image the file's bytes, ids
// counting up from the first; the highest first id that leaves room for every image works, the
// next one is refused. Input: the file.
#include <cstring>

#include "fuzz_support.h"
#include "resource_encoders.h"

using namespace corvane::builder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  IconResources icon;
  icon.images.resize(1);
  if (EncodeIconFile(file, 1, icon)) {
    FUZZ_CHECK(icon.images.size() == 1 && icon.group.empty());
    return 0;
  }
  const size_t count = icon.images.size();
  FUZZ_CHECK(count >= 1 && count <= 0xFFFF);
  FUZZ_CHECK(icon.group.size() == 6 + 14 * count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* entry = icon.group.data() + 6 + 14 * i;
    uint32_t bytes;
    uint16_t id;
    std::memcpy(&bytes, entry + 8, 4);
    std::memcpy(&id, entry + 12, 2);
    FUZZ_CHECK(bytes == icon.images[i].size() && id == i + 1);
    // The image is the file's bytes at the offset its directory entry gives.
    uint32_t offset;
    std::memcpy(&offset, data + 6 + 16 * i + 12, 4);
    FUZZ_CHECK(offset <= size && bytes <= size - offset);
    FUZZ_CHECK(std::memcmp(icon.images[i].data(), data + offset, bytes) == 0);
  }

  IconResources last;
  FUZZ_CHECK(!EncodeIconFile(file, static_cast<uint16_t>(0x10000 - count), last).has_value());
  FUZZ_CHECK(last.images == icon.images);
  IconResources beyond;
  const uint32_t tooHigh = 0x10001 - static_cast<uint32_t>(count);
  if (tooHigh <= 0xFFFF) FUZZ_CHECK(EncodeIconFile(file, static_cast<uint16_t>(tooHigh), beyond).has_value());
  return 0;
}
