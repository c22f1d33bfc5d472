// A string-table block as the launcher walks it for its messages and as corvane-build reads it:
// no entry reaches past the block, and both readers agree on a block the builder accepts. Input:
// the block's bytes.
#include <cstring>
#include <string>

#include "base/string_block.h"
#include "fuzz_support.h"
#include "string_tables.h"

using namespace corvane::builder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ResourceTree tree;
  tree.Put(ResourceType::String, ResourceKey::Id(64), 0, Bytes(data, data + size));
  StringEntries entries;
  const bool builderReads = !ReadStringTable(tree, 0, entries).has_value();
  for (unsigned i = 0; i < 16; ++i) {
    size_t offset = 0, units = 0;
    const bool found = FindStringBlockEntry(data, size, i, &offset, &units);
    if (!found) continue;
    FUZZ_CHECK(offset <= size && units <= (size - offset) / 2);
    std::string text(reinterpret_cast<const char*>(data + offset), 2 * units);
    ExpandMessageEscapes(text.data());
    const auto entry = entries.find(static_cast<uint16_t>(63 * 16 + i));
    if (builderReads) FUZZ_CHECK(units == (entry == entries.end() ? 0 : entry->second.size()));
  }
  return 0;
}
