// The resource tree and its string tables: the order a loader searches, hostile sections refused.
#include "byte_order.h"
#include "resource_tree.h"
#include "string_tables.h"
#include "support.h"

namespace corvane::builder {
namespace {

ResourceKey N(const char16_t* name) { return ResourceKey::Named(name); }

TEST(ResourceKey, OrdersAsTheLoaderComparesNamesThenIds) {
  using SO = std::strong_ordering;
  const struct { ResourceKey a, b; SO expected; } cases[] = {{N(u"ZZZ"), ResourceKey::Id(0), SO::less},
      {ResourceKey::Id(2), ResourceKey::Id(10), SO::less}, {N(u"abc"), N(u"ABD"), SO::less}, {N(u"abd"), N(u"ABC"), SO::greater},
      {N(u"A_"), N(u"Az"), SO::greater},  // upper-cased, "_" sorts after "Z"
      {N(u"AB"), N(u"abc"), SO::less}, {N(u"ABC"), N(u"abc"), SO::less}, {N(u"\u00C9A"), N(u"\u00E9B"), SO::less},
      {N(u"\u044F"), N(u"\u042E"), SO::greater}, {N(u"X"), N(u"X"), SO::equal}};
  for (const auto& c : cases) EXPECT_TRUE((c.a <=> c.b) == c.expected && (c.b <=> c.a) == (0 <=> c.expected)) << c.a.id << " " << c.b.id;
}

ResourceTree SampleTree() {
  ResourceTree t;
  t.Put(ResourceType::String, ResourceKey::Id(1), 3081, Bytes(1022, 'x'));
  t.Put(ResourceType::Manifest, ResourceKey::Id(1), 0, FromText("<assembly/>"));
  t.Put(N(u"CUSTOM"), N(u"Alpha"), 0, FromText("abc"));
  t.Put(N(u"ZEBRA"), N(u"B_X"), 0, FromText("1"));
  t.Put(N(u"ZEBRA"), N(u"BAX"), 1033, FromText("22"));
  t.Put(N(u"ZEBRA"), ResourceKey::Id(7), 0, FromText("333"));
  return t;
}

TEST(ResourceSection, ReadsBackTheSameTreeWithItsCodePagesAndSortedEntries) {
  const ResourceTree t = SampleTree();
  Bytes section = SerializeResources(t, 0x5000);
  const size_t zebra = Le32(section, 16 + 8 + 4) & 0x7FFFFFFF;  // the second named type
  EXPECT_EQ(Le16(section, zebra + 12) * 100 + Le16(section, zebra + 14), 201) << "its names first, then its ids";
  size_t entry = 0;  // the data entry of "333"
  while (entry + 16 <= section.size() && !(Le32(section, entry + 4) == 3 && section[Le32(section, entry) - 0x5000] == '3')) entry += 4;
  ASSERT_LT(entry + 16, section.size());
  Put32(section, entry + 8, 1252);
  ResourceTree back;
  ASSERT_EQ(ParseResources(section, 0x5000, 0x5000, back), std::nullopt);
  EXPECT_EQ(SerializeResources(back, 0x5000), section) << "same bytes, code page included";
  EXPECT_EQ(back.All().size(), t.All().size());
  for (size_t n = 0; n < section.size(); n += 7) EXPECT_TRUE(ParseResources(std::span(section.data(), n), 0x5000, 0x5000, back)) << n;
  EXPECT_TRUE(SerializeResources(t, 0xFFFFFC00u).empty()) << "a section ending past 4 GiB has no bytes";
  ResourceTree tooMany;
  for (uint32_t i = 0; i < 65536; ++i) tooMany.Put(ResourceType::RawData, ResourceKey::Id(1), uint16_t(i), {});
  EXPECT_TRUE(CheckResourceLayout(tooMany).has_value() && SerializeResources(tooMany, 0x1000).empty());
}

// A small tree whose directories and data entries the cases patch.
TEST(ResourceSection, HostileSectionsAreRefusedAndLeaveTheTreeAlone) {
  ResourceTree t;
  t.Put(N(u"T"), ResourceKey::Id(1), 9, FromText("abcdefgh"));
  t.Put(ResourceKey::Id(6), ResourceKey::Id(2), 0, FromText("xy"));
  const Bytes base = SerializeResources(t, 0x4000);
  const size_t typeT = Le32(base, 20) & 0x7FFFFFFF, type6 = Le32(base, 28) & 0x7FFFFFFF, nameT = Le32(base, 16) & 0x7FFFFFFF;
  const size_t names62 = Le32(base, type6 + 20) & 0x7FFFFFFF, namesT1 = Le32(base, typeT + 20) & 0x7FFFFFFF;
  const size_t data6 = Le32(base, names62 + 20), dataT = Le32(base, namesT1 + 20);
  const std::pair<std::function<void(Bytes&)>, const char*> cases[] = {
      {[](Bytes& s) { s.resize(10); }, "past the end"},
      {[](Bytes& s) { Put16(s, 14, 0xFFFF); }, "entries"},
      {[](Bytes& s) { Put32(s, 28, 0x80000000u); }, "reached twice"},  // a type pointing to the root
      {[&](Bytes& s) { Put32(s, 28, 0x80000000u | uint32_t(typeT)); }, "reached twice"},
      {[&](Bytes& s) { Put32(s, type6 + 20, 0x80000000u | uint32_t(type6)); }, "reached twice"},
      {[&](Bytes& s) { Put32(s, 28, uint32_t(data6)); }, "needs a directory"},
      {[&](Bytes& s) { Put32(s, names62 + 20, 0x80000000u | uint32_t(dataT)); }, "fourth"},
      {[&](Bytes& s) { Put16(s, nameT, 0xFFFF); }, "runs past"},
      {[&](Bytes& s) { Put32(s, data6, 0x4000 - 1); }, "outside"},
      {[&](Bytes& s) { Put32(s, data6 + 4, uint32_t(s.size())); }, "outside"},
      {[&](Bytes& s) { Put32(s, data6, 0xFFFFFFF0u), Put32(s, data6 + 4, 0x20); }, "outside"},
      {[&](Bytes& s) {
         for (size_t entry : {dataT, data6}) Put32(s, entry, 0x4000), Put32(s, entry + 4, uint32_t(s.size()));
       }, "add up"},
      {[&](Bytes& s) { Put32(s, 16, 6), Put32(s, typeT + 16, 2), Put32(s, namesT1 + 16, 0); }, "appears twice"}};
  for (const auto& [damage, message] : cases) {
    Bytes s = base;
    damage(s);
    ResourceTree out;
    out.Put(ResourceType::Icon, ResourceKey::Id(42), 0, FromText("keep"));
    const Error e = ParseResources(s, 0x4000, 0x4000, out);
    ASSERT_NE(e, std::nullopt) << message;
    EXPECT_NE(e->find(message), std::string::npos) << *e;
    EXPECT_TRUE(out.All().size() == 1 && out.All()[0].data == FromText("keep"));
  }
}

TEST(StringTables, BlocksOfSixteenPerLanguageOnlyWhereTextIs) {
  ResourceTree tree;
  WriteStringTable(tree, 0, {{1, u"one"}, {1001, u"17"}, {1043, u"0"}});
  WriteStringTable(tree, 1031, {{1, u"Deutsch"}});  // block 1 beside language 0's, which the next write drops
  WriteStringTable(tree, 0, {{1001, u"21"}, {1012, u"ABC"}});
  std::vector<uint16_t> blocks;
  for (const Resource* r : tree.OfType(ResourceType::String)) blocks.push_back(r->name.id);
  EXPECT_EQ(blocks, (std::vector<uint16_t>{1, 63, 64}));  // 0..15, 992..1007, 1008..1023
  StringEntries settings, german;
  ASSERT_FALSE(ReadStringTable(tree, 0, settings) || ReadStringTable(tree, 1031, german));
  EXPECT_EQ(settings, (StringEntries{{1001, u"21"}, {1012, u"ABC"}}));
  EXPECT_EQ(german, (StringEntries{{1, u"Deutsch"}}));
  tree.Put(ResourceType::String, ResourceKey::Id(2), 0, Bytes{5, 0, 'a', 0});
  EXPECT_TRUE(ReadStringTable(tree, 0, settings).has_value()) << "a block whose lengths lie";
}

}  // namespace
}  // namespace corvane::builder
