#include "string_tables.h"

#include <set>

namespace corvane::builder {

Error ReadStringTable(const ResourceTree& tree, uint16_t language, StringEntries& out) {
  out.clear();
  for (const Resource* block : tree.OfType(ResourceType::String)) {
    if (block->language != language) continue;
    if (!block->name.IsId() || block->name.id == 0 || block->name.id > 4096) {
      return "a string-table block has a name that is no block number";
    }
    const Bytes& data = block->data;
    size_t position = 0;
    for (unsigned index = 0; index < 16 && position + 2 <= data.size(); ++index) {
      const size_t length = data[position] | (static_cast<size_t>(data[position + 1]) << 8);
      position += 2;
      if (length > (data.size() - position) / 2) {
        return "string-table block " + std::to_string(block->name.id) + " has an entry that runs past its data";
      }
      std::u16string text;
      text.reserve(length);
      for (size_t i = 0; i < length; ++i, position += 2) {
        text.push_back(static_cast<char16_t>(data[position] | (data[position + 1] << 8)));
      }
      if (!text.empty()) out[static_cast<uint16_t>((block->name.id - 1) * 16 + index)] = std::move(text);
    }
  }
  return std::nullopt;
}

Bytes EncodeStringBlock(const StringEntries& entries, uint16_t block) {
  Bytes data;
  for (unsigned index = 0; index < 16; ++index) {
    const uint32_t id = (static_cast<uint32_t>(block) - 1) * 16 + index;
    const auto found = id <= 0xFFFF ? entries.find(static_cast<uint16_t>(id)) : entries.end();
    const std::u16string empty;
    const std::u16string& text = found != entries.end() ? found->second : empty;
    data.push_back(static_cast<uint8_t>(text.size() & 0xFF));
    data.push_back(static_cast<uint8_t>(text.size() >> 8));
    for (char16_t unit : text) {
      data.push_back(static_cast<uint8_t>(unit & 0xFF));
      data.push_back(static_cast<uint8_t>(unit >> 8));
    }
  }
  return data;
}

void WriteStringTable(ResourceTree& tree, uint16_t language, const StringEntries& entries) {
  std::vector<ResourceKey> old;
  for (const Resource* block : tree.OfType(ResourceType::String)) {
    if (block->language == language) old.push_back(block->name);
  }
  for (const ResourceKey& name : old) {
    // Only this language's block goes; the other languages of the same block number stay.
    std::vector<Resource> others;
    for (const Resource* block : tree.OfType(ResourceType::String)) {
      if (block->name == name && block->language != language) others.push_back(*block);
    }
    tree.Remove(ResourceType::String, name);
    for (Resource& other : others) tree.Put(other.type, other.name, other.language, std::move(other.data));
  }
  std::set<uint16_t> blocks;
  for (const auto& [id, text] : entries) {
    if (!text.empty()) blocks.insert(static_cast<uint16_t>(id / 16 + 1));
  }
  for (uint16_t block : blocks) {
    tree.Put(ResourceType::String, ResourceKey::Id(block), language, EncodeStringBlock(entries, block));
  }
}

std::vector<uint16_t> StringTableLanguages(const ResourceTree& tree) {
  std::set<uint16_t> languages;
  for (const Resource* block : tree.OfType(ResourceType::String)) languages.insert(block->language);
  return {languages.begin(), languages.end()};
}

}  // namespace corvane::builder
