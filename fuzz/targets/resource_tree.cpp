// A resource section (ParseResources): every offset checked against the section. What it reads
// must lay out (CheckResourceLayout), and the laid-out bytes must read back as the same tree at
// any address. Input: the section's RVA (4 bytes, little-endian), the root directory's offset in
// the section (4 bytes), then the section's bytes.
#include <cstring>

#include "fuzz_support.h"
#include "resource_tree.h"
#include "tree_compare.h"

using namespace corvane::builder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  uint32_t sectionRva, directoryOffset;
  std::memcpy(&sectionRva, data, 4);
  std::memcpy(&directoryOffset, data + 4, 4);
  const std::span<const uint8_t> section(data + 8, size - 8);

  ResourceTree tree;
  tree.Put(ResourceType::Icon, ResourceKey::Id(1), 0, Bytes{1, 2, 3});
  const ResourceTree before = tree;
  if (ParseResources(section, sectionRva, sectionRva + directoryOffset, tree)) {
    FUZZ_CHECK(SameResources(tree, before));  // a refused section changes nothing
    return 0;
  }
  FUZZ_CHECK(!CheckResourceLayout(tree).has_value());
  uint64_t total = 0;
  for (const Resource& r : tree.All()) total += r.data.size();
  FUZZ_CHECK(total <= section.size());

  const uint32_t rva = sectionRva <= 0x7FFFFFFF ? sectionRva : 0x1000;
  const Bytes written = SerializeResources(tree, rva);
  ResourceTree back;
  FUZZ_CHECK(!ParseResources(written, rva, rva, back).has_value());
  FUZZ_CHECK(SameResources(back, tree));
  return 0;
}
