// .ico files (EncodeIconFile): counts, offsets and sizes checked against the file. An accepted file
// gives one image per directory entry, each the file's bytes at its entry's offset, with ids counting
// up from the first; a refused one leaves the output alone. Input: the file.
#include <cstring>

#include "fuzz_support.h"
#include "resource_encoders.h"

using namespace corvane::builder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  IconResources icon;
  icon.images.resize(1);
  if (EncodeIconFile(std::span<const uint8_t>(data, size), 1, icon)) {
    FUZZ_CHECK(icon.images.size() == 1 && icon.group.empty());
    return 0;
  }
  const size_t count = icon.images.size();
  FUZZ_CHECK(count >= 1 && icon.group.size() == 6 + 14 * count);
  for (size_t i = 0; i < count; ++i) {
    uint32_t bytes, offset;
    uint16_t id;
    std::memcpy(&bytes, &icon.group[6 + 14 * i + 8], 4);
    std::memcpy(&id, &icon.group[6 + 14 * i + 12], 2);
    std::memcpy(&offset, data + 6 + 16 * i + 12, 4);
    FUZZ_CHECK(bytes == icon.images[i].size() && id == i + 1 && offset <= size && bytes <= size - offset);
    FUZZ_CHECK(std::memcmp(icon.images[i].data(), data + offset, bytes) == 0);
  }
  return 0;
}
