// The PE image: reading any file safely, replacing the resources of small made-up images and of the
// real stub (checked with objdump), and `inspect` of edited launchers.
#include <nlohmann/json.hpp>

#include "base/setting_table.h"
#include "byte_order.h"
#include "launcher_report.h"
#include "pe_image.h"
#include "string_tables.h"
#include "support.h"

namespace corvane::builder {
namespace {

uint32_t AlignUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

// Made-up images: 16 data directories, headers of 0x400 bytes, sections from RVA 0x1000 on, each a page.
constexpr size_t kCoff = 0x44, kOpt = kCoff + 20, kTable = kOpt + 240, kDir = kOpt + 112;
constexpr uint32_t kCode = 0x60000020, kData = 0xC0000040, kResources = 0x40000040, kRelocations = 0x42000040;
struct Section { std::string name; uint32_t characteristics; Bytes data; };

Bytes MakeImage(const std::vector<Section>& sections, const std::vector<std::array<uint32_t, 3>>& directories) {
  Bytes f(0x400, 0);
  f[0] = 'M', f[1] = 'Z', f[0x3C] = 0x40, f[0x40] = 'P', f[0x41] = 'E';
  for (const auto& [at, value] : std::initializer_list<std::pair<size_t, uint32_t>>{
           {kCoff, 0x8664}, {kCoff + 4, 0x5F000000}, {kCoff + 16, 240 | 0x22 << 16}, {kOpt, 0x20B}, {kOpt + 16, 0x1000},
           {kOpt + 24, 0x40000000}, {kOpt + 32, 0x1000}, {kOpt + 36, 0x200}, {kOpt + 60, 0x400}, {kOpt + 68, 2}, {kOpt + 108, 16}}) {
    Put32(f, at, value | uint32_t(at == kCoff ? sections.size() << 16 : 0));
  }
  uint32_t rva = 0x1000, initialized = 0;
  for (size_t i = 0; i < sections.size(); ++i) {
    const Section& s = sections[i];
    const uint32_t size = uint32_t(s.data.size()), raw = AlignUp(size, 0x200), at = uint32_t(kTable + 40 * i);
    std::copy(s.name.begin(), s.name.end(), f.begin() + at);
    Put32(f, at + 8, size), Put32(f, at + 12, rva), Put32(f, at + 16, raw), Put32(f, at + 20, uint32_t(f.size())), Put32(f, at + 36, s.characteristics);
    f.insert(f.end(), s.data.begin(), s.data.end()), f.resize(f.size() + raw - size, 0);
    initialized += s.characteristics & 0x40 ? raw : 0, rva += AlignUp(std::max<uint32_t>(size, 1), 0x1000);
  }
  Put32(f, kOpt + 8, initialized), Put32(f, kOpt + 56, rva);
  for (const auto& [index, at, size] : directories) Put32(f, kDir + 8 * index, at), Put32(f, kDir + 8 * index + 4, size);
  return f;
}

ResourceTree Tree(size_t rawSize) {
  ResourceTree t;
  t.Put(ResourceType::String, ResourceKey::Id(1), 0x409, FromText("hello"));
  if (rawSize) t.Put(ResourceType::RawData, ResourceKey::Id(5), 0, Bytes(rawSize, 0x5A));
  return t;
}
const Bytes kRelocationBlock = {0, 0x20, 0, 0, 16, 0, 0, 0, 0x10, 0xA0, 0x18, 0xA0, 0, 0, 0, 0};  // two fixups in .data

// .text, .data, .rsrc at 0x3000 and, when asked, .reloc after it.
Bytes ImageWithResources(const ResourceTree& tree, bool relocations) {
  const Bytes r = SerializeResources(tree, 0x3000);
  std::vector<Section> sections = {{".text", kCode, Bytes(0x180, 0xC3)}, {".data", kData, Bytes(0x100, 0x11)}, {".rsrc", kResources, r}};
  if (relocations) sections.push_back({".reloc", kRelocations, kRelocationBlock});
  return MakeImage(sections, {{2, 0x3000, uint32_t(r.size())}, {5, relocations ? 0x3000 + AlignUp(uint32_t(r.size()), 0x1000) : 0, 16}});
}

TEST(PeImage, AHostileFileIsRefusedAndLeavesTheImageAlone) {
  const Bytes plain = ImageWithResources(Tree(0), true);
  PeImage image;
  ASSERT_EQ(PeImage::Parse(plain, image), std::nullopt);
  const Bytes before = image.Serialize();
  const std::array<uint32_t, 3> cases[] = {  // offset, width, value
      {0x3C, 4, 0xFFFFFFFE}, {0x42, 1, 'X'}, {kCoff, 2, 0x14C}, {kOpt, 2, 0x10B}, {kCoff + 16, 2, 96}, {kOpt + 108, 4, 17},
      {kCoff + 2, 2, 0xFFFF}, {kOpt + 60, 4, kTable + 40}, {kTable + 56, 4, 0x10000}, {kTable + 20, 4, 0xFFFFFF00}, {kOpt + 36, 4, 0},
      {kOpt + 32, 4, 0x1800}, {kTable + 52, 4, 0x1000} /* sections overlap */, {kTable + 128, 4, 0xFFFFF000} /* past 4 GiB */};
  for (const auto& [at, width, value] : cases) {
    Bytes f = plain;
    width == 2 ? Put16(f, at, uint16_t(value)) : width == 1 ? void(f[at] = uint8_t(value)) : Put32(f, at, value);
    EXPECT_NE(PeImage::Parse(f, image), std::nullopt) << at;
    EXPECT_TRUE(image.Serialize() == before) << at;
  }
  EXPECT_NE(PeImage::Parse(Bytes(plain.begin(), plain.begin() + 2), image), std::nullopt);
  Bytes outside = plain;
  Put32(outside, kDir + 16, 0x9000);  // the resource directory outside every section
  ResourceTree tree;
  EXPECT_TRUE(!PeImage::Parse(outside, image) && image.ReadResources(tree));
}

Bytes WithTail(Bytes f, const Bytes& tail, bool certificates) {
  if (certificates) Put32(f, kDir + 32, uint32_t(f.size())), Put32(f, kDir + 36, uint32_t(tail.size()));
  f.insert(f.end(), tail.begin(), tail.end());
  return f;
}

// The new layout as a loader needs it, checked from the headers alone: sections follow each other in
// memory and in the file (resources on a page boundary, so that loaders can map them), the file ends
// with the last section, and sizes, directories and checksum agree with the sections.
TEST(PeImage, ReplacedResourcesAreLaidOutSoundlyAndReadBack) {
  const struct { Bytes original; ResourceTree tree; std::string names; } cases[] = {
      {MakeImage({{".text", kCode, Bytes(0x180, 0xC3)}}, {}), Tree(0), ".text .rsrc "},
      {ImageWithResources(Tree(0), false), Tree(0x1800), ".text .data .rsrc "},
      {ImageWithResources(Tree(0x1800), true), Tree(0), ".text .data .reloc .rsrc "},  // relocations move down a page
      {ImageWithResources(Tree(0), true), ResourceTree{}, ".text .data .reloc "},
      {WithTail(ImageWithResources(Tree(0), true), FromText("CERTIFICATE-TABLE"), true), Tree(0), ".text .data .reloc .rsrc "}};
  for (const auto& c : cases) {
    PeImage image;
    ASSERT_EQ(PeImage::Parse(c.original, image), std::nullopt);
    ASSERT_EQ(image.ReplaceResources(c.tree), std::nullopt) << c.names;
    const Bytes f = image.Serialize();
    std::string names;
    uint32_t memoryEnd = 0x1000, rawEnd = 0x400, initialized = 0;
    for (size_t at = kTable; at < kTable + 40 * Le16(f, kCoff + 2); at += 40) {
      const std::string name(reinterpret_cast<const char*>(&f[at]));
      const uint32_t size = Le32(f, at + 8), rva = Le32(f, at + 12), raw = Le32(f, at + 16), pointer = Le32(f, at + 20);
      names += name + " ";
      EXPECT_EQ(rva, memoryEnd) << name;
      EXPECT_EQ(pointer, AlignUp(rawEnd, name == ".rsrc" ? 0x1000 : 0x200)) << name;
      EXPECT_EQ(raw, AlignUp(std::max<uint32_t>(size, 1), 0x200)) << name;
      EXPECT_TRUE(name != ".rsrc" || (Le32(f, kDir + 16) == rva && Le32(f, kDir + 20) == size)) << "resource directory";
      EXPECT_TRUE(name != ".reloc" || (Bytes(&f[pointer], &f[pointer + 16]) == kRelocationBlock && Le32(f, kDir + 40) == rva));
      memoryEnd = AlignUp(rva + size, 0x1000), rawEnd = pointer + raw, initialized += Le32(f, at + 36) & 0x40 ? raw : 0;
    }
    EXPECT_EQ(names, c.names);
    EXPECT_TRUE(f.size() == rawEnd && Le32(f, kOpt + 56) == memoryEnd && Le32(f, kOpt + 8) == initialized) << "sizes";
    EXPECT_EQ(Le32(f, kOpt + 64), PeChecksum(f, kOpt + 64));
    EXPECT_EQ(Le32(f, kDir + 32) | Le32(f, kDir + 36), 0u) << "no certificate table";
    ResourceTree back;
    ASSERT_TRUE(!PeImage::Parse(f, image) && !image.ReadResources(back));
    EXPECT_EQ(SerializeResources(back, 0x1000), SerializeResources(c.tree, 0x1000));
  }
}

TEST(PeImage, AReplacementThatWouldBreakTheImageIsRefusedAndLeavesItAlone) {
  const Bytes plain = ImageWithResources(Tree(0), true);
  const auto with = [&](std::function<void(Bytes&)> change) { Bytes f = plain; change(f); return f; };
  const size_t relocations = Le32(plain, kTable + 3 * 40 + 20);
  const std::pair<Bytes, const char*> cases[] = {
      {MakeImage({{".text", kCode, Bytes(8, 0)}, {".rsrc", kResources, SerializeResources(Tree(0), 0x2000)}, {".data", kData, Bytes(8, 0)}},
                 {{2, 0x2000, 64}}), "follows"},
      {with([&](Bytes& f) { Put32(f, relocations, 0x3000); }), "relocation"},  // patching the resources
      {with([](Bytes& f) { Put32(f, kOpt + 16, 0x3000); }), "entry point"},
      {WithTail(plain, FromText("appended payload"), false), "after its last section"},
      {[] { Bytes f = MakeImage({{".text", kCode, Bytes(8, 0)}}, {}); f[kTable + 45] = 0xCC; return f; }(), "no room"}};
  for (const auto& [file, message] : cases) {
    PeImage image;
    ASSERT_EQ(PeImage::Parse(file, image), std::nullopt) << message;
    const Bytes before = image.Serialize();
    const Error e = image.ReplaceResources(Tree(0x1800));
    ASSERT_NE(e, std::nullopt) << message;
    EXPECT_NE(e->find(message), std::string::npos) << *e;
    EXPECT_TRUE(image.Serialize() == before) << message;
  }
}

// `inspect` reads stored numbers as the launcher does (saturated at 32 bits, an unset flag true), and
// a bitmap of any height stated in the file.
TEST(Inspect, ReadsEditedSettingsAndBitmapHeightsAsTheLauncherWould) {
  ResourceTree tree;
  const uint16_t block = IdSplashSeconds / 16 + 1;
  tree.Put(ResourceType::String, ResourceKey::Id(block), 0,
           EncodeStringBlock({{IdSplashSeconds, u"4294967296"}, {IdPriorityClass, u" -99999999999x"}}, block));
  Bytes dib = {40, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0x80, 1, 0, 24, 0};  // 2 x 2147483648, 24 bits
  tree.Put(ResourceType::Bitmap, ResourceKey::Id(1), 0, (dib.resize(40), dib));
  std::string out;
  ASSERT_EQ(InspectLauncher(ImageWithResources(tree, false), true, out), std::nullopt);
  const nlohmann::json report = nlohmann::json::parse(out);
  EXPECT_EQ(report["settings"]["SplashSeconds"]["value"], 2147483647);
  EXPECT_EQ(report["settings"]["PriorityClass"]["value"], -2147483648LL);
  EXPECT_EQ(report["settings"]["AllowMultipleInstances"]["value"], true);
  EXPECT_EQ(report["resources"]["splash"], "2x2147483648, 24 bits");
}

// What corvane-build does to every launcher: objdump reads the same program and relocations from
// the rewritten stub, and its checksum is the linker's.
TEST(PeImage, TheStubWithItsOwnResourcesWrittenBackReadsTheSameWithObjdump) {
  const Bytes stub = Read(Stub());
  PeImage image;
  ResourceTree tree;
  ASSERT_TRUE(!PeImage::Parse(stub, image) && !image.ReadResources(tree) && !image.ReplaceResources(tree));
  const size_t opt = Le32(stub, 0x3C) + 24;
  EXPECT_EQ(PeChecksum(stub, opt + 64), Le32(stub, opt + 64));
  const fs::path out = TestDir() / "same.exe";
  Write(out, image.Serialize());
  const auto dump = [](const fs::path& file) {
    const std::string text = Shell("x86_64-w64-mingw32-objdump -p " + Quote(file)).output;
    std::string kept;  // the fields the new layout leaves alone, and the relocations
    for (const char* field : {"AddressOfEntryPoint", "ImageBase", "Entry 1 ", "Entry 3 ", "Entry 9 ", "Entry c ", "DLL Name: KERNEL32"}) {
      const size_t at = text.find(std::string("\n") + field);
      kept += at == std::string::npos ? "" : text.substr(at, text.find('\n', at + 1) - at);
    }
    const size_t relocations = text.find("PE File Base Relocations");
    return kept + text.substr(relocations, text.find("The .rsrc Resource Directory", relocations) - relocations);
  };
  EXPECT_EQ(dump(out), dump(Stub()));
}

}  // namespace
}  // namespace corvane::builder
