// The resources of a PE image as a tree of type, name and language, read from and written to the
// bytes of a resource section. Every offset and size of the input is checked: the input may be any
// file.
#pragma once

#include <compare>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "error.h"

namespace corvane::builder {

// A resource type or name: a 16-bit id, or a name (UTF-16 code units, as stored).
struct ResourceKey {
  uint16_t id = 0;      // meaningful when name is empty
  std::u16string name;  // empty for an id

  static ResourceKey Id(uint16_t id) { return ResourceKey{id, {}}; }
  static ResourceKey Named(std::u16string name) { return ResourceKey{0, std::move(name)}; }
  bool IsId() const { return name.empty(); }
  // Directory order, the one the loader's binary search relies on: named entries first, compared
  // case-insensitively (both names uppercased, unit by unit; a name that is a prefix of another comes
  // first; names equal but for case are ordered by their exact units), then ids ascending.
  std::strong_ordering operator<=>(const ResourceKey& other) const;
  // Same kind and same id or name (the id of a named key does not count).
  bool operator==(const ResourceKey& other) const;
};

// Common resource types.
namespace ResourceType {
inline const ResourceKey Icon = ResourceKey::Id(3);
inline const ResourceKey Bitmap = ResourceKey::Id(2);
inline const ResourceKey Dialog = ResourceKey::Id(5);
inline const ResourceKey String = ResourceKey::Id(6);
inline const ResourceKey RawData = ResourceKey::Id(10);
inline const ResourceKey GroupIcon = ResourceKey::Id(14);
inline const ResourceKey Version = ResourceKey::Id(16);
inline const ResourceKey Manifest = ResourceKey::Id(24);
}  // namespace ResourceType

struct Resource {
  ResourceKey type;
  ResourceKey name;
  uint16_t language = 0;
  Bytes data;
  uint32_t codePage = 0;
};

class ResourceTree {
 public:
  // Replaces the resource of this type, name and language (keeping its code page), or adds it.
  void Put(const ResourceKey& type, const ResourceKey& name, uint16_t language, Bytes data);
  // Removes every resource of a type, or of a type and name (all languages); answers how many.
  size_t RemoveType(const ResourceKey& type);
  size_t Remove(const ResourceKey& type, const ResourceKey& name);
  // The resource, or null.
  const Resource* Find(const ResourceKey& type, const ResourceKey& name, uint16_t language) const;
  // The resources of a type, in directory order.
  std::vector<const Resource*> OfType(const ResourceKey& type) const;
  // Every resource in directory order (type, then name, then language).
  const std::vector<Resource>& All() const { return resources_; }

 private:
  friend Error ParseResources(std::span<const uint8_t>, uint32_t, uint32_t, ResourceTree&);
  std::vector<Resource> resources_;  // kept sorted
};

// Reads the resource directory found at `directoryRva` in a section whose bytes are `section` and
// which is mapped at `sectionRva`. The directory has three levels (type, name, language); data may
// lie anywhere in the section. A directory that refers back to itself (or is reached twice), an
// offset or size outside the section, a fourth level, a name that runs past the section, the same
// resource twice, or data adding up to more than the section is an error; `out` is then unchanged.
Error ParseResources(std::span<const uint8_t> section, uint32_t sectionRva, uint32_t directoryRva,
                     ResourceTree& out);

// Whether the tree can be laid out: at most 65535 named and 65535 id entries in each directory,
// names of at most 65535 units, and a layout that 31-bit directory offsets reach. A tree that fails
// this has no bytes: SerializeResources gives an empty result for it, as it does when the section
// would end past RVA 4 GiB.
Error CheckResourceLayout(const ResourceTree& tree);

// Lays out the bytes of a resource section mapped at `sectionRva`: the three directory levels, the
// names, the data entries and the data (each datum aligned to 8 bytes). Directory time stamps and
// versions are 0, so the same tree always gives the same bytes.
Bytes SerializeResources(const ResourceTree& tree, uint32_t sectionRva);

// The same, appended to `out` (whose end is where the section starts) and padded with zeros to a
// multiple of `padding` bytes, growing `out` once: large resources are copied a single time.
// Answers the section's size without the padding, or 0 (out unchanged) when the tree cannot be
// laid out.
size_t AppendResources(const ResourceTree& tree, uint32_t sectionRva, size_t padding, Bytes& out);

}  // namespace corvane::builder
