// A resource section (ParseResources): every offset checked against the section. What it reads
// lays out (CheckResourceLayout) and reads back the same. Input: the section's RVA (4 bytes, little
// endian), the root directory's offset in the section (4 bytes), then the section's bytes.
#include <cstring>

#include "fuzz_support.h"
#include "resource_tree.h"

using namespace corvane::builder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  uint32_t sectionRva, directoryOffset;
  std::memcpy(&sectionRva, data, 4);
  std::memcpy(&directoryOffset, data + 4, 4);
  const std::span<const uint8_t> section(data + 8, size - 8);
  ResourceTree tree;
  tree.Put(ResourceType::Icon, ResourceKey::Id(1), 0, Bytes{1, 2, 3});
  if (ParseResources(section, sectionRva, sectionRva + directoryOffset, tree)) {
    FUZZ_CHECK(tree.All().size() == 1 && tree.All()[0].data == (Bytes{1, 2, 3}));  // a refused section changes nothing
    return 0;
  }
  FUZZ_CHECK(!CheckResourceLayout(tree).has_value());
  const Bytes written = SerializeResources(tree, 0x1000);
  ResourceTree back;
  FUZZ_CHECK(!ParseResources(written, 0x1000, 0x1000, back).has_value() && SerializeResources(back, 0x1000) == written);
  return 0;
}
