// A string-table block as the launcher walks it for its messages (FindStringBlockEntry, then the
// message escapes) and as corvane-build reads and writes it. Both readers must agree on every
// entry of a block the builder accepts, what the builder writes must read back, and no entry may
// reach past the block. Input: the block's bytes.
#include <cstring>
#include <string>

#include "base/string_block.h"
#include "fuzz_support.h"
#include "resource_tree.h"
#include "string_tables.h"

using namespace corvane::builder;

namespace {

// Entry `index` as the launcher finds it; false when it does not.
bool LauncherEntry(const uint8_t* block, size_t size, unsigned index, std::u16string& text) {
  size_t offset = 0, units = 0;
  if (!FindStringBlockEntry(block, size, index, &offset, &units)) return false;
  FUZZ_CHECK(offset >= 2 && offset <= size && units <= (size - offset) / 2);
  text.clear();
  for (size_t i = 0; i < units; ++i) {
    text.push_back(static_cast<char16_t>(block[offset + 2 * i] | block[offset + 2 * i + 1] << 8));
  }
  return true;
}

void CheckEscapes(const std::u16string& text) {
  std::string narrow;
  for (char16_t unit : text) {
    const char c = static_cast<char>(unit);  // a stand-in for the code page conversion
    if (c == '\0') break;
    narrow.push_back(c);
  }
  std::string expanded = narrow;
  ExpandMessageEscapes(expanded.data());
  const size_t length = std::strlen(expanded.c_str());
  FUZZ_CHECK(length <= narrow.size());
  // Every line feed that was not there before came from a backslash and an "n".
  size_t before = 0, after = 0;
  for (char c : narrow) before += c == '\n';
  for (size_t i = 0; i < length; ++i) after += expanded[i] == '\n';
  FUZZ_CHECK(after >= before);
  FUZZ_CHECK(narrow.find('\\') != std::string::npos || expanded.c_str() == narrow);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string launcher[16];
  bool found[16];
  for (unsigned i = 0; i < 16; ++i) {
    found[i] = LauncherEntry(data, size, i, launcher[i]);
    // An entry is found only when every entry before it is.
    FUZZ_CHECK(!found[i] || i == 0 || found[i - 1]);
    if (found[i]) CheckEscapes(launcher[i]);
  }
  FUZZ_CHECK(!FindStringBlockEntry(data, size, 16, nullptr, nullptr));

  ResourceTree tree;
  tree.Put(ResourceType::String, ResourceKey::Id(64), 0, Bytes(data, data + size));
  StringEntries entries;
  if (ReadStringTable(tree, 0, entries)) {
    // Refused by the builder: some entry runs past the block, so the launcher misses it too.
    FUZZ_CHECK(!found[15]);
    return 0;
  }
  for (unsigned i = 0; i < 16; ++i) {
    const auto entry = entries.find(static_cast<uint16_t>(63 * 16 + i));
    const std::u16string builder = entry != entries.end() ? entry->second : std::u16string();
    FUZZ_CHECK(builder == (found[i] ? launcher[i] : std::u16string()));
  }

  // What the builder writes for these entries reads back entry by entry.
  const Bytes written = EncodeStringBlock(entries, 64);
  for (unsigned i = 0; i < 16; ++i) {
    std::u16string text;
    FUZZ_CHECK(LauncherEntry(written.data(), written.size(), i, text));
    FUZZ_CHECK(text == (found[i] ? launcher[i] : std::u16string()));
  }
  return 0;
}
