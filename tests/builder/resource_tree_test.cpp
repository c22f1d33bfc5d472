// The resource tree: its order, and reading and writing the bytes of a resource section, with the
// bytes of hostile sections refused.
#include "byte_order.h"
#include "resource_tree.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace corvane::builder {
namespace {


Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

std::string Show(const ResourceKey& k) {
  if (k.IsId()) return std::to_string(k.id);
  std::string s;
  for (char16_t c : k.name) s += c < 0x80 ? static_cast<char>(c) : '?';
  return "\"" + s + "\"";
}

// Every field of every resource, for comparing trees with a readable failure.
std::vector<std::string> Describe(const ResourceTree& tree) {
  std::vector<std::string> lines;
  for (const auto& r : tree.All()) {
    std::string data;
    for (uint8_t b : r.data) data += std::to_string(b) + ",";
    lines.push_back(Show(r.type) + "/" + Show(r.name) + "/" + std::to_string(r.language) + " cp" +
                    std::to_string(r.codePage) + " [" + data + "]");
  }
  return lines;
}

ResourceTree SampleTree() {
  ResourceTree t;
  t.Put(ResourceType::String, ResourceKey::Id(1), 3081, Pattern(1022, 1));
  t.Put(ResourceType::String, ResourceKey::Id(1), 0, {});
  t.Put(ResourceType::Manifest, ResourceKey::Id(1), 0, Text("<assembly/>"));
  t.Put(ResourceKey::Named(u"CUSTOM"), ResourceKey::Named(u"Alpha"), 0, Text("abc"));
  t.Put(ResourceKey::Named(u"CUSTOM"), ResourceKey::Id(7), 1033, Text("seven"));
  t.Put(ResourceKey::Named(u"ZEBRA"), ResourceKey::Named(u"B_X"), 0, Text("1"));
  t.Put(ResourceKey::Named(u"ZEBRA"), ResourceKey::Named(u"BAX"), 0, Text("22"));
  t.Put(ResourceKey::Named(u"ZEBRA"), ResourceKey::Named(u"CUSTOM"), 0, Text("333"));
  for (uint16_t i = 1; i <= 3; ++i) t.Put(ResourceType::Icon, ResourceKey::Id(i), 0, Pattern(40 + i, static_cast<uint8_t>(i)));
  return t;
}

// --- Key order ---

struct OrderCase {
  const char* what;
  ResourceKey a, b;
  std::strong_ordering expected;
};

class ResourceKeyOrder : public testing::TestWithParam<OrderCase> {};

TEST_P(ResourceKeyOrder, MatchesTheLoadersOrderBothWays) {
  const auto& c = GetParam();
  EXPECT_EQ(c.a <=> c.b, c.expected) << c.what;
  EXPECT_EQ(c.b <=> c.a, 0 <=> (c.a <=> c.b)) << c.what;
  EXPECT_EQ(c.a == c.b, c.expected == 0) << c.what;
}

using SO = std::strong_ordering;
INSTANTIATE_TEST_SUITE_P(
    Cases, ResourceKeyOrder,
    testing::Values(
        OrderCase{"a name comes before any id", ResourceKey::Named(u"ZZZ"), ResourceKey::Id(0), SO::less},
        OrderCase{"ids ascend", ResourceKey::Id(2), ResourceKey::Id(10), SO::less},
        OrderCase{"the largest id last", ResourceKey::Id(65535), ResourceKey::Id(0), SO::greater},
        OrderCase{"same id", ResourceKey::Id(6), ResourceKey::Id(6), SO::equal},
        OrderCase{"case does not decide before the letters do", ResourceKey::Named(u"abc"), ResourceKey::Named(u"ABD"), SO::less},
        OrderCase{"lowercase later letter is greater", ResourceKey::Named(u"abd"), ResourceKey::Named(u"ABC"), SO::greater},
        OrderCase{"underscore sorts after Z when uppercased", ResourceKey::Named(u"A_"), ResourceKey::Named(u"Az"), SO::greater},
        OrderCase{"a prefix comes first", ResourceKey::Named(u"AB"), ResourceKey::Named(u"abc"), SO::less},
        OrderCase{"names equal but for case are still ordered", ResourceKey::Named(u"ABC"), ResourceKey::Named(u"abc"), SO::less},
        OrderCase{"Latin-1 letters fold", ResourceKey::Named(u"\u00C9A"), ResourceKey::Named(u"\u00E9B"), SO::less},
        OrderCase{"Cyrillic letters fold", ResourceKey::Named(u"\u044F"), ResourceKey::Named(u"\u042E"), SO::greater},
        OrderCase{"same name", ResourceKey::Named(u"X"), ResourceKey::Named(u"X"), SO::equal}));

TEST(ResourceKey, NamedKeysAreEqualWhateverTheirIdField) {
  EXPECT_EQ((ResourceKey{5, u"A"}), ResourceKey::Named(u"A"));
  EXPECT_FALSE(ResourceKey::Id(0) == ResourceKey::Named(u"0"));
}

// --- The tree ---

TEST(ResourceTree, KeepsDirectoryOrderWhateverThePutOrder) {
  ResourceTree t;
  t.Put(ResourceKey::Id(6), ResourceKey::Id(2), 9, Text("c"));
  t.Put(ResourceKey::Id(3), ResourceKey::Id(1), 0, Text("a"));
  t.Put(ResourceKey::Named(u"T"), ResourceKey::Id(1), 0, Text("n"));
  t.Put(ResourceKey::Id(6), ResourceKey::Id(2), 1, Text("b"));
  t.Put(ResourceKey::Id(6), ResourceKey::Named(u"x"), 0, Text("d"));
  std::vector<std::string> order;
  for (const auto& r : t.All()) order.push_back(std::string(r.data.begin(), r.data.end()));
  EXPECT_EQ(order, (std::vector<std::string>{"n", "a", "d", "b", "c"}));
}

TEST(ResourceTree, PutReplacesTheSameKeyAndKeepsItsCodePage) {
  ResourceTree t;
  t.Put(ResourceType::String, ResourceKey::Id(1), 0, Text("old"));
  Bytes section = SerializeResources(t, 0x1000);
  // The single data entry follows the three directories (16 + 8 bytes each).
  Put32(section, 3 * 24 + 8, 1252);
  ResourceTree parsed;
  ASSERT_EQ(ParseResources(section, 0x1000, 0x1000, parsed), std::nullopt);
  parsed.Put(ResourceType::String, ResourceKey::Id(1), 0, Text("new"));
  ASSERT_EQ(parsed.All().size(), 1u);
  EXPECT_EQ(parsed.All()[0].data, Text("new"));
  EXPECT_EQ(parsed.All()[0].codePage, 1252u);
}

TEST(ResourceTree, RemoveCountsWhatItRemoves) {
  ResourceTree t = SampleTree();
  EXPECT_EQ(t.Remove(ResourceType::String, ResourceKey::Id(1)), 2u);
  EXPECT_EQ(t.Remove(ResourceType::String, ResourceKey::Id(1)), 0u);
  EXPECT_EQ(t.RemoveType(ResourceKey::Named(u"ZEBRA")), 3u);
  EXPECT_EQ(t.RemoveType(ResourceType::Bitmap), 0u);
  EXPECT_EQ(t.All().size(), 6u);
  EXPECT_EQ(t.OfType(ResourceType::Icon).size(), 3u);
}

TEST(ResourceTree, FindsOnlyTheExactKey) {
  const ResourceTree t = SampleTree();
  const Resource* found = t.Find(ResourceType::String, ResourceKey::Id(1), 3081);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->data.size(), 1022u);
  EXPECT_EQ(t.Find(ResourceType::String, ResourceKey::Id(1), 1033), nullptr);
  EXPECT_EQ(t.Find(ResourceType::String, ResourceKey::Id(2), 0), nullptr);
  EXPECT_EQ(t.Find(ResourceKey::Named(u"CUSTOM"), ResourceKey::Named(u"ALPHA"), 0), nullptr);
  EXPECT_NE(t.Find(ResourceKey::Named(u"CUSTOM"), ResourceKey::Named(u"Alpha"), 0), nullptr);
}

TEST(ResourceTree, OfTypeGivesNamesThenIdsInOrder) {
  ResourceTree t;
  t.Put(ResourceType::Icon, ResourceKey::Id(9), 0, {});
  t.Put(ResourceType::Icon, ResourceKey::Named(u"B"), 0, {});
  t.Put(ResourceType::Icon, ResourceKey::Id(2), 0, {});
  t.Put(ResourceType::Icon, ResourceKey::Named(u"a"), 0, {});
  t.Put(ResourceType::Bitmap, ResourceKey::Id(1), 0, {});
  std::vector<std::string> names;
  for (const Resource* r : t.OfType(ResourceType::Icon)) names.push_back(Show(r->name));
  EXPECT_EQ(names, (std::vector<std::string>{"\"a\"", "\"B\"", "2", "9"}));
}

// --- Writing and reading back ---

TEST(SerializeResources, ReadsBackTheSameTree) {
  const ResourceTree t = SampleTree();
  const Bytes section = SerializeResources(t, 0x5000);
  ResourceTree back;
  ASSERT_EQ(ParseResources(section, 0x5000, 0x5000, back), std::nullopt);
  EXPECT_EQ(Describe(back), Describe(t));
}

TEST(SerializeResources, SameTreeSameBytesWhateverThePutOrder) {
  const ResourceTree t = SampleTree();
  ResourceTree reversed;
  const auto& all = t.All();
  for (auto it = all.rbegin(); it != all.rend(); ++it) reversed.Put(it->type, it->name, it->language, it->data);
  EXPECT_EQ(SerializeResources(t, 0x5000), SerializeResources(t, 0x5000));
  EXPECT_EQ(SerializeResources(reversed, 0x5000), SerializeResources(t, 0x5000));
}

TEST(SerializeResources, EmptyTreeIsAnEmptyRootDirectory) {
  const Bytes section = SerializeResources(ResourceTree{}, 0x1000);
  EXPECT_EQ(section, Bytes(16, 0));
  ResourceTree back;
  back.Put(ResourceType::Icon, ResourceKey::Id(1), 0, {});
  ASSERT_EQ(ParseResources(section, 0x1000, 0x1000, back), std::nullopt);
  EXPECT_TRUE(back.All().empty());
}

// Walks the written directories independently of the reader: every directory has zero
// characteristics, time stamp and version, its named entries first in key order, then its ids
// ascending; every datum lies at an 8-aligned RVA inside the section.
void CheckDirectory(const Bytes& s, uint32_t rva, size_t at, int level, int& data) {
  SCOPED_TRACE("directory at " + std::to_string(at));
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(s.at(at + i), 0) << "header byte " << i;
  const size_t named = Le16(s, at + 12), ids = Le16(s, at + 14);
  std::vector<ResourceKey> keys;
  for (size_t i = 0; i < named + ids; ++i) {
    const uint32_t nameField = Le32(s, at + 16 + 8 * i), dataField = Le32(s, at + 16 + 8 * i + 4);
    EXPECT_EQ((nameField >> 31) != 0, i < named) << "entry " << i;
    if (nameField >> 31) {
      const size_t n = nameField & 0x7FFFFFFF;
      std::u16string name;
      for (size_t u = 0; u < Le16(s, n); ++u) name += static_cast<char16_t>(Le16(s, n + 2 + 2 * u));
      keys.push_back(ResourceKey::Named(name));
    } else {
      keys.push_back(ResourceKey::Id(static_cast<uint16_t>(nameField)));
    }
    if (level < 2) {
      ASSERT_NE(dataField >> 31, 0u);
      CheckDirectory(s, rva, dataField & 0x7FFFFFFF, level + 1, data);
    } else {
      ASSERT_EQ(dataField >> 31, 0u);
      const uint32_t dataRva = Le32(s, dataField), size = Le32(s, dataField + 4);
      EXPECT_EQ(dataField % 4, 0u);
      EXPECT_EQ(dataRva % 8, 0u);
      EXPECT_LE(dataRva - rva + size, s.size());
      ++data;
    }
  }
  for (size_t i = 1; i < keys.size(); ++i) EXPECT_LT(keys[i - 1], keys[i]) << "entries " << i - 1 << " and " << i;
}

TEST(SerializeResources, WritesSortedZeroStampedDirectoriesAndAlignedData) {
  const ResourceTree t = SampleTree();
  const Bytes section = SerializeResources(t, 0x7000);
  int data = 0;
  CheckDirectory(section, 0x7000, 0, 0, data);
  EXPECT_EQ(data, static_cast<int>(t.All().size()));
}

TEST(SerializeResources, OrdersNamesAsTheLoaderComparesThem) {
  ResourceTree t;
  for (const char16_t* name : {u"B_X", u"BAX", u"bay", u"B", u"\u00E9", u"E"}) {
    t.Put(ResourceType::RawData, ResourceKey::Named(name), 0, {});
  }
  const Bytes s = SerializeResources(t, 0x1000);
  const size_t typeDirectory = Le32(s, 16 + 4) & 0x7FFFFFFF;
  std::vector<std::u16string> names;
  for (size_t i = 0; i < Le16(s, typeDirectory + 12); ++i) {
    const size_t n = Le32(s, typeDirectory + 16 + 8 * i) & 0x7FFFFFFF;
    std::u16string name;
    for (size_t u = 0; u < Le16(s, n); ++u) name += static_cast<char16_t>(Le16(s, n + 2 + 2 * u));
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::u16string>{u"B", u"BAX", u"bay", u"B_X", u"E", u"\u00E9"}));
}

TEST(SerializeResources, ReadsBackFromARootInsideTheSection) {
  // The root need not start the section, and data may lie before it.
  const ResourceTree t = SampleTree();
  const uint32_t sectionRva = 0x3000, prefix = 64;
  const Bytes tail = SerializeResources(t, sectionRva + prefix);
  Bytes section(prefix + tail.size(), 0xEE);
  std::copy(tail.begin(), tail.end(), section.begin() + prefix);
  // Move the first datum into the prefix.
  const Resource& first = t.All()[0];
  ASSERT_LE(first.data.size(), prefix);
  std::copy(first.data.begin(), first.data.end(), section.begin());
  const size_t firstDataEntry = [&] {
    for (size_t at = 0; at + 16 <= tail.size(); at += 8) {
      if (Le32(tail, at + 4) == first.data.size() && Le32(tail, at) >= sectionRva + prefix &&
          std::equal(first.data.begin(), first.data.end(), tail.begin() + (Le32(tail, at) - sectionRva - prefix))) {
        return prefix + at;
      }
    }
    return size_t{0};
  }();
  ASSERT_NE(firstDataEntry, 0u);
  Put32(section, firstDataEntry, sectionRva);
  ResourceTree back;
  ASSERT_EQ(ParseResources(section, sectionRva, sectionRva + prefix, back), std::nullopt);
  EXPECT_EQ(Describe(back), Describe(t));
}

TEST(SerializeResources, ReadsEntriesInAnyOrderAndSortsThem) {
  ResourceTree t;
  t.Put(ResourceKey::Id(3), ResourceKey::Id(1), 0, Text("three"));
  t.Put(ResourceKey::Id(5), ResourceKey::Id(1), 0, Text("five"));
  Bytes s = SerializeResources(t, 0x1000);
  // Swap the two root entries.
  for (size_t i = 0; i < 8; ++i) std::swap(s[16 + i], s[24 + i]);
  ResourceTree back;
  ASSERT_EQ(ParseResources(s, 0x1000, 0x1000, back), std::nullopt);
  EXPECT_EQ(Describe(back), Describe(t));
}

struct LimitCase {
  const char* what;
  std::function<void(ResourceTree&)> fill;
  bool fits;
};

class ResourceLayoutLimits : public testing::TestWithParam<LimitCase> {};

TEST_P(ResourceLayoutLimits, TreesPastTheFormatsLimitsHaveNoBytes) {
  ResourceTree t;
  GetParam().fill(t);
  const Error e = CheckResourceLayout(t);
  const Bytes s = SerializeResources(t, 0x1000);
  if (GetParam().fits) {
    EXPECT_EQ(e, std::nullopt);
    ResourceTree back;
    ASSERT_EQ(ParseResources(s, 0x1000, 0x1000, back), std::nullopt);
    EXPECT_EQ(back.All().size(), t.All().size());
  } else {
    EXPECT_NE(e, std::nullopt);
    EXPECT_TRUE(s.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResourceLayoutLimits,
    testing::Values(
        LimitCase{"65535 ids in one directory",
                  [](ResourceTree& t) {
                    for (uint32_t i = 0; i < 65535; ++i) t.Put(ResourceType::RawData, ResourceKey::Id(static_cast<uint16_t>(i)), 0, {});
                  },
                  true},
        LimitCase{"65536 ids in one directory",
                  [](ResourceTree& t) {
                    for (uint32_t i = 0; i < 65536; ++i) t.Put(ResourceType::RawData, ResourceKey::Id(static_cast<uint16_t>(i)), 0, {});
                  },
                  false},
        LimitCase{"65536 languages of one name",
                  [](ResourceTree& t) {
                    for (uint32_t i = 0; i < 65536; ++i) t.Put(ResourceType::RawData, ResourceKey::Id(1), static_cast<uint16_t>(i), {});
                  },
                  false},
        LimitCase{"a name of 65535 units",
                  [](ResourceTree& t) { t.Put(ResourceKey::Named(std::u16string(65535, u'N')), ResourceKey::Id(1), 0, {}); },
                  true},
        LimitCase{"a name of 65536 units",
                  [](ResourceTree& t) { t.Put(ResourceType::RawData, ResourceKey::Named(std::u16string(65536, u'N')), 0, {}); },
                  false}),
    [](const testing::TestParamInfo<LimitCase>& info) { return "Case" + std::to_string(info.index); });

TEST(SerializeResources, GivesNothingWhenTheSectionWouldEndPast4GiB) {
  ResourceTree t;
  t.Put(ResourceType::RawData, ResourceKey::Id(1), 0, Bytes(64, 1));
  EXPECT_TRUE(SerializeResources(t, 0xFFFFFFC0u).empty());
  EXPECT_FALSE(SerializeResources(t, 0xFFFF0000u).empty());
}

// --- Hostile sections ---

// A small tree whose byte layout the cases below patch:
//   root: "T" -> dir A, 6 -> dir B;  A: 1 -> dir C;  B: 2 -> dir D;  C: 9 -> data 0;  D: 0 -> data 1
constexpr uint32_t kRva = 0x4000;
struct Offsets {
  size_t typeDirT, typeDir6, nameDirT1, nameDir62, nameT, dataEntry0, dataEntry1;
};

Bytes HostileBase(Offsets& o) {
  ResourceTree t;
  t.Put(ResourceKey::Named(u"T"), ResourceKey::Id(1), 9, Text("abcdefgh"));
  t.Put(ResourceKey::Id(6), ResourceKey::Id(2), 0, Text("xy"));
  Bytes s = SerializeResources(t, kRva);
  o.typeDirT = Le32(s, 16 + 4) & 0x7FFFFFFF;
  o.typeDir6 = Le32(s, 24 + 4) & 0x7FFFFFFF;
  o.nameT = Le32(s, 16) & 0x7FFFFFFF;
  o.nameDirT1 = Le32(s, o.typeDirT + 16 + 4) & 0x7FFFFFFF;
  o.nameDir62 = Le32(s, o.typeDir6 + 16 + 4) & 0x7FFFFFFF;
  o.dataEntry0 = Le32(s, o.nameDirT1 + 16 + 4);
  o.dataEntry1 = Le32(s, o.nameDir62 + 16 + 4);
  return s;
}

struct HostileCase {
  const char* what;
  std::function<void(Bytes&, const Offsets&, uint32_t& directoryRva)> damage;
  const char* message;  // a word the error must contain
};

class HostileResourceSection : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileResourceSection, IsRefusedAndLeavesTheTreeAlone) {
  Offsets o;
  Bytes s = HostileBase(o);
  uint32_t directoryRva = kRva;
  GetParam().damage(s, o, directoryRva);
  ResourceTree out;
  out.Put(ResourceType::Icon, ResourceKey::Id(42), 0, Text("keep"));
  const Error e = ParseResources(s, kRva, directoryRva, out);
  ASSERT_NE(e, std::nullopt) << GetParam().what;
  EXPECT_NE(e->find(GetParam().message), std::string::npos) << *e;
  ASSERT_EQ(out.All().size(), 1u);
  EXPECT_EQ(out.All()[0].data, Text("keep"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileResourceSection,
    testing::Values(
        HostileCase{"directory before the section", [](Bytes&, const Offsets&, uint32_t& d) { d = kRva - 1; }, "outside"},
        HostileCase{"directory past the section", [](Bytes& s, const Offsets&, uint32_t& d) { d = kRva + static_cast<uint32_t>(s.size()); }, "outside"},
        HostileCase{"empty section", [](Bytes& s, const Offsets&, uint32_t&) { s.clear(); }, "outside"},
        HostileCase{"root header cut short", [](Bytes& s, const Offsets&, uint32_t&) { s.resize(10); }, "past the end"},
        HostileCase{"entry count past the section", [](Bytes& s, const Offsets&, uint32_t&) { Put16(s, 14, 0xFFFF); }, "entries"},
        HostileCase{"type entry pointing to the root",
                    [](Bytes& s, const Offsets&, uint32_t&) { Put32(s, 24 + 4, 0x80000000u); }, "reached twice"},
        HostileCase{"name entry pointing to its own directory",
                    [](Bytes& s, const Offsets& o, uint32_t&) { Put32(s, o.typeDir6 + 16 + 4, 0x80000000u | static_cast<uint32_t>(o.typeDir6)); },
                    "reached twice"},
        HostileCase{"two types sharing a directory",
                    [](Bytes& s, const Offsets& o, uint32_t&) { Put32(s, 24 + 4, 0x80000000u | static_cast<uint32_t>(o.typeDirT)); },
                    "reached twice"},
        HostileCase{"subdirectory offset past the section",
                    [](Bytes& s, const Offsets&, uint32_t&) { Put32(s, 24 + 4, 0x80000000u | static_cast<uint32_t>(s.size() - 4)); }, "past the end"},
        HostileCase{"fourth directory level",
                    [](Bytes& s, const Offsets& o, uint32_t&) { Put32(s, o.nameDir62 + 16 + 4, 0x80000000u | static_cast<uint32_t>(o.dataEntry0)); },
                    "fourth"},
        HostileCase{"data entry where a type directory belongs",
                    [](Bytes& s, const Offsets& o, uint32_t&) { Put32(s, 24 + 4, static_cast<uint32_t>(o.dataEntry1)); }, "needs a directory"},
        HostileCase{"data entry where a name directory belongs",
                    [](Bytes& s, const Offsets& o, uint32_t&) { Put32(s, o.typeDir6 + 16 + 4, static_cast<uint32_t>(o.dataEntry1)); }, "needs a directory"},
        HostileCase{"name offset past the section",
                    [](Bytes& s, const Offsets&, uint32_t&) { Put32(s, 16, 0x80000000u | static_cast<uint32_t>(s.size() - 1)); }, "name"},
        HostileCase{"name length past the section", [](Bytes& s, const Offsets& o, uint32_t&) { Put16(s, o.nameT, 0xFFFF); }, "runs past"},
        HostileCase{"empty name", [](Bytes& s, const Offsets& o, uint32_t&) { Put16(s, o.nameT, 0); }, "empty"},
        HostileCase{"id wider than 16 bits", [](Bytes& s, const Offsets&, uint32_t&) { Put32(s, 24, 0x10006); }, "16 bits"},
        HostileCase{"language given by name",
                    [](Bytes& s, const Offsets& o, uint32_t&) { Put32(s, o.nameDir62 + 16, 0x80000000u | static_cast<uint32_t>(o.nameT)); },
                    "language"},
        HostileCase{"data entry past the section",
                    [](Bytes& s, const Offsets& o, uint32_t&) { Put32(s, o.nameDir62 + 16 + 4, static_cast<uint32_t>(s.size() - 8)); },
                    "data entry"},
        HostileCase{"data before the section", [](Bytes& s, const Offsets& o, uint32_t&) { Put32(s, o.dataEntry1, kRva - 1); }, "outside"},
        HostileCase{"data size past the section",
                    [](Bytes& s, const Offsets& o, uint32_t&) { Put32(s, o.dataEntry1 + 4, static_cast<uint32_t>(s.size())); }, "outside"},
        HostileCase{"data whose end wraps past 4 GiB",
                    [](Bytes& s, const Offsets& o, uint32_t&) {
                      Put32(s, o.dataEntry1, 0xFFFFFFF0u);
                      Put32(s, o.dataEntry1 + 4, 0x20);
                    },
                    "outside"},
        HostileCase{"shared data adding up to more than the section",
                    [](Bytes& s, const Offsets& o, uint32_t&) {
                      for (size_t entry : {o.dataEntry0, o.dataEntry1}) {
                        Put32(s, entry, kRva);
                        Put32(s, entry + 4, static_cast<uint32_t>(s.size()));
                      }
                    },
                    "add up"},
        HostileCase{"the same resource twice",
                    [](Bytes& s, const Offsets& o, uint32_t&) {
                      Put32(s, 16, 6);                   // type "T" becomes 6
                      Put32(s, o.typeDirT + 16, 2);      // its name 1 becomes 2
                      Put32(s, o.nameDirT1 + 16, 0);     // its language 9 becomes 0
                    },
                    "appears twice"}),
    [](const testing::TestParamInfo<HostileCase>& info) { return "Case" + std::to_string(info.index); });

TEST(ParseResources, RefusesEveryTruncation) {
  const Bytes full = SerializeResources(SampleTree(), 0x2000);
  for (size_t n = 0; n < full.size(); ++n) {
    ResourceTree out;
    EXPECT_NE(ParseResources(std::span(full.data(), n), 0x2000, 0x2000, out), std::nullopt) << n << " bytes";
  }
}

TEST(ParseResources, DamagedSectionsAreRefusedOrReadBackConsistently) {
  // Random damage: never a crash, and whatever is accepted writes and reads back to the same tree.
  const Bytes full = SerializeResources(SampleTree(), 0x2000);
  std::mt19937 random(12345);
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes s = full;
    const int hits = 1 + static_cast<int>(random() % 4);
    for (int h = 0; h < hits; ++h) {
      // Mostly the directories and entries, where the offsets are.
      const size_t limit = (random() % 4 == 0) ? s.size() : std::min<size_t>(s.size(), 400);
      s[random() % limit] = static_cast<uint8_t>(random());
    }
    ResourceTree out;
    if (ParseResources(s, 0x2000, 0x2000, out)) continue;
    ++accepted;
    ResourceTree again;
    ASSERT_EQ(ParseResources(SerializeResources(out, 0x9000), 0x9000, 0x9000, again), std::nullopt);
    ASSERT_EQ(Describe(again), Describe(out)) << "round " << round;
  }
  EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace corvane::builder
