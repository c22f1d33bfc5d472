#include "resource_tree.h"

#include "byte_order.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

namespace corvane::builder {

namespace {


// Simple uppercase of the scripts resource names are written in (Latin, Greek, Cyrillic, fullwidth
// ASCII), as the loader uppercases names before comparing; other units compare as they are.
char16_t Upcase(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  if (c == 0xB5) return 0x39C;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x131) return u'I';
    if (c == 0x17F) return u'S';
    if (c == 0x130 || c == 0x138 || c == 0x149) return c;
    // Most of Latin Extended-A pairs upper (even) and lower (odd); these two runs are shifted by one.
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
      return (c % 2 == 0) ? static_cast<char16_t>(c - 1) : c;
    }
    return (c % 2 == 1) ? static_cast<char16_t>(c - 1) : c;
  }
  if (c == 0x3C2) return 0x3A3;  // final sigma
  if ((c >= 0x3B1 && c <= 0x3CB)) return static_cast<char16_t>(c - 0x20);
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return static_cast<char16_t>(c - 0x25);
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return static_cast<char16_t>(c - 0x3F);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);
  return c;
}

std::string Describe(const ResourceKey& key) {
  if (key.IsId()) return std::to_string(key.id);
  std::string text = "\"";
  for (char16_t c : key.name) {
    if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
      text += escape;
    }
  }
  return text + "\"";
}

std::strong_ordering CompareResources(const Resource& a, const Resource& b) {
  if (auto c = a.type <=> b.type; c != 0) return c;
  if (auto c = a.name <=> b.name; c != 0) return c;
  return a.language <=> b.language;
}

bool Before(const Resource& a, const Resource& b) { return CompareResources(a, b) < 0; }

// The directories of a tree: each type with its names, each name with its resources (indexes into
// the tree's sorted list), all in directory order.
struct NameGroup {
  const ResourceKey* name;
  size_t first, count;
};
struct TypeGroup {
  const ResourceKey* type;
  std::vector<NameGroup> names;
};

std::vector<TypeGroup> GroupTree(const std::vector<Resource>& all) {
  std::vector<TypeGroup> types;
  for (size_t i = 0; i < all.size(); ++i) {
    if (types.empty() || !(*types.back().type == all[i].type)) types.push_back({&all[i].type, {}});
    auto& names = types.back().names;
    if (names.empty() || !(*names.back().name == all[i].name)) names.push_back({&all[i].name, i, 0});
    ++names.back().count;
  }
  return types;
}

// Where each part of a resource section goes.
struct Layout {
  std::vector<TypeGroup> types;
  std::vector<uint64_t> nameDirectories;  // one per (type, name), in order
  std::map<std::u16string, uint64_t> strings;
  uint64_t dataEntries = 0;  // first data entry; one per resource, in order
  std::vector<uint64_t> data;  // one per resource
  uint64_t size = 0;
};

constexpr uint64_t kDirectoryHeader = 16;
constexpr uint64_t kEntry = 8;
constexpr uint64_t kDataEntry = 16;
// Directory and name offsets have 31 bits.
constexpr uint64_t kMaxOffset = 0x7FFFFFFF;

Error CountEntries(const std::vector<const ResourceKey*>& keys, const std::string& where) {
  size_t named = 0, ids = 0;
  for (const ResourceKey* key : keys) {
    if (key->IsId()) {
      ++ids;
    } else {
      ++named;
      if (key->name.size() > 0xFFFF) return "the name " + Describe(ResourceKey::Named(key->name.substr(0, 16))) +
                                            "... is longer than 65535 units";
    }
  }
  if (named > 0xFFFF || ids > 0xFFFF) return where + " has more than 65535 named or 65535 id entries";
  return std::nullopt;
}

Error PlanLayout(const ResourceTree& tree, Layout& out) {
  const auto& all = tree.All();
  Layout layout;
  layout.types = GroupTree(all);

  std::vector<const ResourceKey*> typeKeys;
  for (const auto& t : layout.types) typeKeys.push_back(t.type);
  if (auto e = CountEntries(typeKeys, "the type directory")) return e;
  for (const auto& t : layout.types) {
    std::vector<const ResourceKey*> nameKeys;
    for (const auto& n : t.names) nameKeys.push_back(n.name);
    if (auto e = CountEntries(nameKeys, "the directory of type " + Describe(*t.type))) return e;
    // Languages are ids, at most 65536 distinct ones.
    for (const auto& n : t.names) {
      if (n.count > 0xFFFF) return "the resource " + Describe(*t.type) + "/" + Describe(*n.name) + " has more than 65535 languages";
    }
  }

  uint64_t at = kDirectoryHeader + kEntry * layout.types.size();
  std::vector<uint64_t> typeDirectories;
  for (const auto& t : layout.types) {
    typeDirectories.push_back(at);
    at += kDirectoryHeader + kEntry * t.names.size();
  }
  for (const auto& t : layout.types) {
    for (const auto& n : t.names) {
      layout.nameDirectories.push_back(at);
      at += kDirectoryHeader + kEntry * n.count;
    }
  }
  auto addString = [&](const ResourceKey& key) {
    if (key.IsId() || layout.strings.count(key.name)) return;
    layout.strings[key.name] = at;
    at += 2 + 2 * static_cast<uint64_t>(key.name.size());
  };
  // Each distinct name once, in the order first met.
  for (const auto& t : layout.types) {
    addString(*t.type);
    for (const auto& n : t.names) addString(*n.name);
  }
  if (at > kMaxOffset) return std::string("the resource directory is too large");
  at = AlignUp(at, 8);
  layout.dataEntries = at;
  at += kDataEntry * all.size();
  for (const auto& r : all) {
    if (r.data.size() > 0xFFFFFFFFull) return "the resource " + Describe(r.type) + "/" + Describe(r.name) + " is larger than 4 GiB";
    at = AlignUp(at, 8);
    layout.data.push_back(at);
    at += r.data.size();
    if (at > kMaxOffset) return std::string("the resources add up to more than 2 GiB");
  }
  layout.size = at;
  out = std::move(layout);
  return std::nullopt;
}

void WriteDirectoryHeader(std::span<uint8_t> out, uint64_t at, const std::vector<const ResourceKey*>& keys) {
  uint16_t named = 0, ids = 0;
  for (const ResourceKey* key : keys) (key->IsId() ? ids : named)++;
  // Characteristics, time stamp and version stay 0.
  Put16(out, at + 12, named);
  Put16(out, at + 14, ids);
}

uint32_t KeyField(const ResourceKey& key, const Layout& layout) {
  if (key.IsId()) return key.id;
  return 0x80000000u | static_cast<uint32_t>(layout.strings.at(key.name));
}

// Reads the resource directory tree of a section, every offset checked.
class Reader {
 public:
  Reader(std::span<const uint8_t> section, uint32_t sectionRva, std::span<const uint8_t> tree)
      : section_(section), sectionRva_(sectionRva), tree_(tree) {}

  Error Directory(uint64_t offset, int level, const ResourceKey* type, const ResourceKey* name) {
    if (!visited_.insert(offset).second) {
      return "the resource directory at offset " + Hex(offset) + " is reached twice (it refers back to itself or is shared)";
    }
    if (!Fits(tree_.size(), offset, kDirectoryHeader)) {
      return "the resource directory at offset " + Hex(offset) + " runs past the end of its section";
    }
    const uint64_t count = static_cast<uint64_t>(Le16(tree_, offset + 12)) + Le16(tree_, offset + 14);
    if (!Fits(tree_.size(), offset + kDirectoryHeader, count * kEntry)) {
      return "the " + std::to_string(count) + " entries of the resource directory at offset " + Hex(offset) +
             " run past the end of its section";
    }
    for (uint64_t i = 0; i < count; ++i) {
      const uint64_t entry = offset + kDirectoryHeader + i * kEntry;
      const uint32_t nameField = Le32(tree_, entry);
      const uint32_t dataField = Le32(tree_, entry + 4);
      ResourceKey key;
      if (auto e = Key(nameField, key)) return e;
      const bool isDirectory = (dataField & 0x80000000u) != 0;
      const uint64_t target = dataField & 0x7FFFFFFFu;
      if (level < 2) {
        if (!isDirectory) {
          return "the resource directory at offset " + Hex(offset) + " has a data entry where the " +
                 (level == 0 ? "type" : "name") + " level needs a directory";
        }
        if (auto e = Directory(target, level + 1, level == 0 ? &key : type, level == 1 ? &key : name)) return e;
        continue;
      }
      if (isDirectory) {
        return "the resource " + Describe(*type) + "/" + Describe(*name) + " has a fourth directory level";
      }
      if (!key.IsId()) {
        return "the resource " + Describe(*type) + "/" + Describe(*name) + " has a language given by name";
      }
      if (auto e = Data(target, *type, *name, key.id)) return e;
    }
    return std::nullopt;
  }

  std::vector<Resource> Take() { return std::move(found_); }

 private:
  Error Key(uint32_t field, ResourceKey& key) {
    if ((field & 0x80000000u) == 0) {
      if (field > 0xFFFF) return "a resource id (" + Hex(field) + ") is larger than 16 bits";
      key = ResourceKey::Id(static_cast<uint16_t>(field));
      return std::nullopt;
    }
    const uint64_t at = field & 0x7FFFFFFFu;
    if (!Fits(tree_.size(), at, 2)) return "a resource name at offset " + Hex(at) + " lies past the end of its section";
    const uint16_t length = Le16(tree_, at);
    if (length == 0) return "a resource name at offset " + Hex(at) + " is empty";
    if (!Fits(tree_.size(), at + 2, 2ull * length)) {
      return "a resource name at offset " + Hex(at) + " (" + std::to_string(length) + " units) runs past the end of its section";
    }
    std::u16string name(length, u'\0');
    for (size_t i = 0; i < length; ++i) name[i] = static_cast<char16_t>(Le16(tree_, at + 2 + 2 * i));
    key = ResourceKey::Named(std::move(name));
    return std::nullopt;
  }

  Error Data(uint64_t entry, const ResourceKey& type, const ResourceKey& name, uint16_t language) {
    const std::string what = "the resource " + Describe(type) + "/" + Describe(name) + "/" + std::to_string(language);
    if (!Fits(tree_.size(), entry, kDataEntry)) return what + " has its data entry past the end of its section";
    const uint32_t rva = Le32(tree_, entry);
    const uint32_t size = Le32(tree_, entry + 4);
    if (rva < sectionRva_ || !Fits(section_.size(), rva - sectionRva_, size)) {
      return what + " has data (RVA " + Hex(rva) + ", " + std::to_string(size) + " bytes) outside its section";
    }
    // Entries may share data, but copying shared data again and again could take any amount of
    // memory: all data together may not exceed the section.
    copied_ += size;
    if (copied_ > section_.size()) return std::string("the resources' data add up to more than their section holds");
    Resource r;
    r.type = type;
    r.name = name;
    r.language = language;
    const auto from = section_.begin() + (rva - sectionRva_);
    r.data.assign(from, from + size);
    r.codePage = Le32(tree_, entry + 8);
    found_.push_back(std::move(r));
    return std::nullopt;
  }

  std::span<const uint8_t> section_;
  uint32_t sectionRva_;
  std::span<const uint8_t> tree_;  // from the root directory to the end of the section
  std::set<uint64_t> visited_;
  uint64_t copied_ = 0;
  std::vector<Resource> found_;
};

}  // namespace

std::strong_ordering ResourceKey::operator<=>(const ResourceKey& other) const {
  if (IsId() != other.IsId()) return IsId() ? std::strong_ordering::greater : std::strong_ordering::less;
  if (IsId()) return id <=> other.id;
  const size_t common = std::min(name.size(), other.name.size());
  for (size_t i = 0; i < common; ++i) {
    const char16_t a = Upcase(name[i]), b = Upcase(other.name[i]);
    if (a != b) return a <=> b;
  }
  if (name.size() != other.name.size()) return name.size() <=> other.name.size();
  return name.compare(other.name) <=> 0;
}

bool ResourceKey::operator==(const ResourceKey& other) const {
  if (IsId() != other.IsId()) return false;
  return IsId() ? id == other.id : name == other.name;
}

void ResourceTree::Put(const ResourceKey& type, const ResourceKey& name, uint16_t language, Bytes data) {
  Resource r;
  r.type = type;
  r.name = name;
  r.language = language;
  auto at = std::lower_bound(resources_.begin(), resources_.end(), r, Before);
  if (at != resources_.end() && CompareResources(*at, r) == 0) {
    // The code page of the resource it replaces stays: it describes the resource, not these bytes.
    at->data = std::move(data);
    return;
  }
  r.data = std::move(data);
  resources_.insert(at, std::move(r));
}

size_t ResourceTree::RemoveType(const ResourceKey& type) {
  return std::erase_if(resources_, [&](const Resource& r) { return r.type == type; });
}

size_t ResourceTree::Remove(const ResourceKey& type, const ResourceKey& name) {
  return std::erase_if(resources_, [&](const Resource& r) { return r.type == type && r.name == name; });
}

const Resource* ResourceTree::Find(const ResourceKey& type, const ResourceKey& name, uint16_t language) const {
  Resource probe;
  probe.type = type;
  probe.name = name;
  probe.language = language;
  auto at = std::lower_bound(resources_.begin(), resources_.end(), probe, Before);
  if (at == resources_.end() || CompareResources(*at, probe) != 0) return nullptr;
  return &*at;
}

std::vector<const Resource*> ResourceTree::OfType(const ResourceKey& type) const {
  std::vector<const Resource*> found;
  for (const auto& r : resources_) {
    if (r.type == type) found.push_back(&r);
  }
  return found;
}

Error ParseResources(std::span<const uint8_t> section, uint32_t sectionRva, uint32_t directoryRva,
                     ResourceTree& out) {
  if (directoryRva < sectionRva || directoryRva - sectionRva >= section.size()) {
    return "the resource directory (RVA " + Hex(directoryRva) + ") lies outside its section (RVA " + Hex(sectionRva) +
           ", " + std::to_string(section.size()) + " bytes)";
  }
  Reader reader(section, sectionRva, section.subspan(directoryRva - sectionRva));
  if (auto e = reader.Directory(0, 0, nullptr, nullptr)) return e;
  std::vector<Resource> found = reader.Take();
  std::stable_sort(found.begin(), found.end(), Before);
  for (size_t i = 1; i < found.size(); ++i) {
    if (CompareResources(found[i - 1], found[i]) == 0) {
      return "the resource " + Describe(found[i].type) + "/" + Describe(found[i].name) + "/" +
             std::to_string(found[i].language) + " appears twice";
    }
  }
  out.resources_ = std::move(found);
  return std::nullopt;
}

Error CheckResourceLayout(const ResourceTree& tree) {
  Layout layout;
  return PlanLayout(tree, layout);
}

Bytes SerializeResources(const ResourceTree& tree, uint32_t sectionRva) {
  Bytes out;
  AppendResources(tree, sectionRva, 1, out);
  return out;
}

namespace {

// Writes the directories, names and data entries of a planned layout into `out`, which holds the
// zeroed bytes up to the first datum; the data itself is appended by the caller.
void WriteLayout(const ResourceTree& tree, const Layout& layout, uint32_t sectionRva, std::span<uint8_t> out) {
  const auto& all = tree.All();

  // Root: one entry per type.
  std::vector<const ResourceKey*> typeKeys;
  for (const auto& t : layout.types) typeKeys.push_back(t.type);
  WriteDirectoryHeader(out, 0, typeKeys);
  uint64_t typeDirectory = kDirectoryHeader + kEntry * layout.types.size();
  size_t nameIndex = 0;
  for (size_t ti = 0; ti < layout.types.size(); ++ti) {
    const auto& t = layout.types[ti];
    Put32(out, kDirectoryHeader + kEntry * ti, KeyField(*t.type, layout));
    Put32(out, kDirectoryHeader + kEntry * ti + 4, 0x80000000u | static_cast<uint32_t>(typeDirectory));

    std::vector<const ResourceKey*> nameKeys;
    for (const auto& n : t.names) nameKeys.push_back(n.name);
    WriteDirectoryHeader(out, typeDirectory, nameKeys);
    for (size_t ni = 0; ni < t.names.size(); ++ni, ++nameIndex) {
      const auto& n = t.names[ni];
      const uint64_t entry = typeDirectory + kDirectoryHeader + kEntry * ni;
      const uint64_t nameDirectory = layout.nameDirectories[nameIndex];
      Put32(out, entry, KeyField(*n.name, layout));
      Put32(out, entry + 4, 0x80000000u | static_cast<uint32_t>(nameDirectory));

      Put16(out, nameDirectory + 14, static_cast<uint16_t>(n.count));
      for (size_t li = 0; li < n.count; ++li) {
        const size_t index = n.first + li;
        const uint64_t languageEntry = nameDirectory + kDirectoryHeader + kEntry * li;
        Put32(out, languageEntry, all[index].language);
        Put32(out, languageEntry + 4, static_cast<uint32_t>(layout.dataEntries + kDataEntry * index));
      }
    }
    typeDirectory += kDirectoryHeader + kEntry * t.names.size();
  }

  for (const auto& [name, at] : layout.strings) {
    Put16(out, at, static_cast<uint16_t>(name.size()));
    for (size_t i = 0; i < name.size(); ++i) Put16(out, at + 2 + 2 * i, name[i]);
  }

  for (size_t i = 0; i < all.size(); ++i) {
    const uint64_t entry = layout.dataEntries + kDataEntry * i;
    Put32(out, entry, static_cast<uint32_t>(sectionRva + layout.data[i]));
    Put32(out, entry + 4, static_cast<uint32_t>(all[i].data.size()));
    Put32(out, entry + 8, all[i].codePage);
  }
}

}  // namespace

size_t AppendResources(const ResourceTree& tree, uint32_t sectionRva, size_t padding, Bytes& out) {
  Layout layout;
  if (PlanLayout(tree, layout) || sectionRva + layout.size > 0xFFFFFFFFull || padding == 0) return 0;
  const size_t start = out.size();
  const size_t padded = (layout.size + padding - 1) / padding * padding;
  const auto& all = tree.All();
  const size_t head = all.empty() ? layout.size : layout.data.front();
  out.reserve(start + padded);
  out.resize(start + head, 0);
  WriteLayout(tree, layout, sectionRva, std::span<uint8_t>(out).subspan(start, head));
  // The data in order, each after the zeros that align it: large data is copied once, never zeroed first.
  for (size_t i = 0; i < all.size(); ++i) {
    out.resize(start + layout.data[i], 0);
    out.insert(out.end(), all[i].data.begin(), all[i].data.end());
  }
  out.resize(start + padded, 0);
  return layout.size;
}

}  // namespace corvane::builder
