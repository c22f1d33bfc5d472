// The PE image: reading any file safely, and replacing the resources of small made-up images and of
// the real stub, checked with objdump. Whole launchers built from the
// stub are compared with windres's, signed and run in the build and end-to-end tests.
#include "base/setting_table.h"
#include "byte_order.h"
#include "launcher_report.h"
#include "pe_image.h"
#include "string_tables.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace corvane::builder {
namespace {

namespace fs = std::filesystem;

// --- Bytes and files ---

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
uint32_t AlignUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Output of a shell command (binary-safe) and its exit status.
std::string Capture(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (status) *status = -1;
    return out;
  }
  std::array<char, 4096> chunk;
  size_t n;
  while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) out.append(chunk.data(), n);
  const int raw = pclose(pipe);
  if (status) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

std::string TmpDir(const std::string& name) {
  const std::string dir = std::string(CORVANE_TEST_TMP) + "/pe_image/" + name;
  fs::create_directories(dir);
  return dir;
}

// --- Reading headers, independently of PeImage ---

constexpr size_t kPe = 0x40;  // where the made-up images put "PE\0\0"
struct Sec {
  std::string name;
  uint32_t virtualSize, virtualAddress, rawSize, rawPointer, characteristics;
};
struct Hdr {
  size_t coff, optional, table;
  std::vector<Sec> sections;
  uint32_t Dir(const Bytes& f, int i, int field) const { return Le32(f, optional + 112 + 8 * i + 4 * field); }
};
Hdr ReadHdr(const Bytes& f) {
  Hdr h;
  h.coff = Le32(f, 0x3C) + 4;
  h.optional = h.coff + 20;
  h.table = h.optional + Le16(f, h.coff + 16);
  for (size_t i = 0; i < Le16(f, h.coff + 2); ++i) {
    const size_t at = h.table + 40 * i;
    Sec s;
    for (size_t c = 0; c < 8 && f.at(at + c); ++c) s.name += static_cast<char>(f[at + c]);
    s.virtualSize = Le32(f, at + 8);
    s.virtualAddress = Le32(f, at + 12);
    s.rawSize = Le32(f, at + 16);
    s.rawPointer = Le32(f, at + 20);
    s.characteristics = Le32(f, at + 36);
    h.sections.push_back(s);
  }
  return h;
}
std::vector<std::string> Names(const Hdr& h) {
  std::vector<std::string> names;
  for (const auto& s : h.sections) names.push_back(s.name);
  return names;
}

std::vector<std::string> Describe(const ResourceTree& tree) {
  std::vector<std::string> lines;
  for (const auto& r : tree.All()) {
    lines.push_back(std::to_string(r.type.id) + "/" + std::to_string(r.name.id) + "/" + std::to_string(r.language) +
                    " " + std::to_string(r.data.size()) + " " + std::string(r.data.begin(), r.data.end()));
  }
  return lines;
}

// --- Made-up images ---

constexpr uint32_t kCode = 0x60000020, kData = 0xC0000040, kResources = 0x40000040, kRelocations = 0x42000040;
constexpr size_t kCoffAt = kPe + 4, kOptionalAt = kCoffAt + 20, kTableAt = kOptionalAt + 240;

struct SectionPlan {
  std::string name;
  uint32_t characteristics;
  Bytes data;
};

// An image of the given sections at RVA 0x1000, 0x2000, ... (each a page or more), raw data from
// 0x400 in 0x200 steps, 16 data directories, headers 0x400 bytes with the rest zero.
Bytes MakeImage(const std::vector<SectionPlan>& sections, const std::vector<std::array<uint32_t, 3>>& directories) {
  Bytes f(0x400, 0);
  f[0] = 'M';
  f[1] = 'Z';
  Put32(f, 0x3C, kPe);
  f[kPe] = 'P';
  f[kPe + 1] = 'E';
  Put16(f, kCoffAt, 0x8664);
  Put16(f, kCoffAt + 2, static_cast<uint16_t>(sections.size()));
  Put32(f, kCoffAt + 4, 0x5F000000);
  Put16(f, kCoffAt + 16, 240);
  Put16(f, kCoffAt + 18, 0x22);
  Put16(f, kOptionalAt, 0x20B);
  Put32(f, kOptionalAt + 16, 0x1000);  // entry point
  Put32(f, kOptionalAt + 24, 0x40000000);
  Put32(f, kOptionalAt + 28, 0x1);
  Put32(f, kOptionalAt + 32, 0x1000);
  Put32(f, kOptionalAt + 36, 0x200);
  Put32(f, kOptionalAt + 60, 0x400);
  Put16(f, kOptionalAt + 68, 2);
  Put32(f, kOptionalAt + 108, 16);
  uint32_t rva = 0x1000, initialized = 0;
  for (size_t i = 0; i < sections.size(); ++i) {
    const auto& s = sections[i];
    const size_t at = kTableAt + 40 * i;
    std::copy(s.name.begin(), s.name.end(), f.begin() + static_cast<ptrdiff_t>(at));
    const uint32_t virtualSize = static_cast<uint32_t>(s.data.size());
    const uint32_t raw = AlignUp(static_cast<uint32_t>(s.data.size()), 0x200);
    Put32(f, at + 8, virtualSize);
    Put32(f, at + 12, rva);
    Put32(f, at + 16, raw);
    Put32(f, at + 20, raw ? static_cast<uint32_t>(f.size()) : 0);
    Put32(f, at + 36, s.characteristics);
    f.insert(f.end(), s.data.begin(), s.data.end());
    f.resize(f.size() + (raw - s.data.size()), 0);
    if (s.characteristics & 0x40) initialized += raw;
    rva += AlignUp(std::max<uint32_t>(virtualSize, 1), 0x1000);
  }
  Put32(f, kOptionalAt + 8, initialized);
  Put32(f, kOptionalAt + 56, rva);
  for (const auto& d : directories) {
    Put32(f, kOptionalAt + 112 + 8 * d[0], d[1]);
    Put32(f, kOptionalAt + 112 + 8 * d[0] + 4, d[2]);
  }
  return f;
}

ResourceTree SmallTree() {
  ResourceTree t;
  t.Put(ResourceType::String, ResourceKey::Id(1), 0x409, Text("hello"));
  t.Put(ResourceType::Manifest, ResourceKey::Id(1), 0, Text("<assembly/>"));
  return t;
}
ResourceTree BigTree() {
  ResourceTree t = SmallTree();
  t.Put(ResourceType::RawData, ResourceKey::Id(5), 0, Bytes(0x1800, 0x5A));
  return t;
}

// One relocation block for the page at 0x2000 (.data): two 64-bit fixups and a padding entry.
Bytes RelocationBlock(uint32_t page = 0x2000, uint16_t first = 0x10) {
  Bytes b(16, 0);
  Put32(b, 0, page);
  Put32(b, 4, 16);
  Put16(b, 8, static_cast<uint16_t>(0xA000 | first));
  Put16(b, 10, static_cast<uint16_t>(0xA000 | (first + 8)));
  Put16(b, 12, 0);
  return b;
}

SectionPlan Code() { return {".text", kCode, Bytes(0x180, 0xC3)}; }
SectionPlan Data() { return {".data", kData, Bytes(0x100, 0x11)}; }

// .text, .data, .rsrc (a tree at 0x3000) and, when asked, .reloc after it.
Bytes ImageWithResources(const ResourceTree& tree, bool relocations) {
  const Bytes resources = SerializeResources(tree, 0x3000);
  std::vector<SectionPlan> sections = {Code(), Data(), {".rsrc", kResources, resources}};
  std::vector<std::array<uint32_t, 3>> directories = {{2, 0x3000, static_cast<uint32_t>(resources.size())}};
  if (relocations) {
    const uint32_t relocationRva = 0x3000 + AlignUp(static_cast<uint32_t>(resources.size()), 0x1000);
    sections.push_back({".reloc", kRelocations, RelocationBlock()});
    directories.push_back({5, relocationRva, 16});
  }
  return MakeImage(sections, directories);
}

PeImage MustParse(Bytes file) {
  PeImage image;
  const Error e = PeImage::Parse(std::move(file), image);
  EXPECT_EQ(e, std::nullopt) << *e;
  return image;
}

// --- The checksum ---

TEST(PeChecksum, SumsWordsFoldsCarriesAndAddsTheLength) {
  struct {
    const char* what;
    Bytes file;
    size_t checksumOffset;
    uint32_t expected;
  } const cases[] = {{"empty file", {}, 0, 0},
                     {"odd last byte counts as a low byte", {0x01}, 100, 2},
                     {"carry folds back in", {0xFF, 0xFF, 0x01, 0x00}, 100, 5},
                     {"carries fold again", {0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00}, 100, 8},
                     {"the checksum field counts as zero", {0x34, 0x12, 0xAA, 0xBB, 0x01, 0x00}, 2, 0x123A},
                     {"an odd checksum offset", {0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, 1, 0x607}};
  for (const auto& c : cases) EXPECT_EQ(PeChecksum(c.file, c.checksumOffset), c.expected) << c.what;
}

// --- Hostile files ---

struct HostileFile {
  const char* what;
  std::function<void(Bytes&)> damage;
};

Bytes PlainImage() { return ImageWithResources(SmallTree(), true); }

class HostileImage : public testing::TestWithParam<HostileFile> {};

TEST_P(HostileImage, IsRefusedAndLeavesTheImageAlone) {
  PeImage image = MustParse(PlainImage());
  const Bytes before = image.Serialize();
  Bytes f = PlainImage();
  GetParam().damage(f);
  const Error e = PeImage::Parse(f, image);
  EXPECT_NE(e, std::nullopt) << GetParam().what;
  EXPECT_EQ(image.Serialize(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileImage,
    testing::Values(
        HostileFile{"empty file", [](Bytes& f) { f.clear(); }},
        HostileFile{"MZ only", [](Bytes& f) { f = Text("MZ"); }},
        HostileFile{"no MZ", [](Bytes& f) { f[0] = 'X'; }},
        HostileFile{"e_lfanew past the end", [](Bytes& f) { Put32(f, 0x3C, static_cast<uint32_t>(f.size())); }},
        HostileFile{"e_lfanew wrapping", [](Bytes& f) { Put32(f, 0x3C, 0xFFFFFFFE); }},
        HostileFile{"headers cut off after e_lfanew", [](Bytes& f) { f.resize(kPe + 10); }},
        HostileFile{"no PE signature", [](Bytes& f) { f[kPe + 2] = 'X'; }},
        HostileFile{"wrong machine", [](Bytes& f) { Put16(f, kCoffAt, 0x14C); }},
        HostileFile{"PE32 optional header", [](Bytes& f) { Put16(f, kOptionalAt, 0x10B); }},
        HostileFile{"unknown optional header", [](Bytes& f) { Put16(f, kOptionalAt, 0x107); }},
        HostileFile{"optional header too short", [](Bytes& f) { Put16(f, kCoffAt + 16, 96); }},
        HostileFile{"optional header past the end", [](Bytes& f) { Put16(f, kCoffAt + 16, 0xFFFF); }},
        HostileFile{"more directories than the header holds", [](Bytes& f) { Put32(f, kOptionalAt + 108, 17); }},
        HostileFile{"section table past the end", [](Bytes& f) { Put16(f, kCoffAt + 2, 0xFFFF); }},
        HostileFile{"section table past SizeOfHeaders", [](Bytes& f) { Put32(f, kOptionalAt + 60, kTableAt + 40); }},
        HostileFile{"SizeOfHeaders past the end", [](Bytes& f) { Put32(f, kOptionalAt + 60, static_cast<uint32_t>(f.size() + 1)); }},
        HostileFile{"section raw data past the end", [](Bytes& f) { Put32(f, kTableAt + 40 + 16, static_cast<uint32_t>(f.size())); }},
        HostileFile{"section raw pointer past the end", [](Bytes& f) { Put32(f, kTableAt + 40 + 20, static_cast<uint32_t>(f.size())); }},
        HostileFile{"section raw data wrapping", [](Bytes& f) { Put32(f, kTableAt + 20, 0xFFFFFF00); }},
        HostileFile{"file alignment zero", [](Bytes& f) { Put32(f, kOptionalAt + 36, 0); }},
        HostileFile{"section alignment not a power of two", [](Bytes& f) { Put32(f, kOptionalAt + 32, 0x1800); }},
        HostileFile{"file alignment above section alignment", [](Bytes& f) { Put32(f, kOptionalAt + 36, 0x2000); }},
        HostileFile{"sections overlapping in memory", [](Bytes& f) { Put32(f, kTableAt + 40 + 12, 0x1000); }},
        HostileFile{"section past 4 GiB", [](Bytes& f) {
                      Put32(f, kTableAt + 3 * 40 + 8, 0x2000);
                      Put32(f, kTableAt + 3 * 40 + 12, 0xFFFFF000);
                    }}),
    [](const testing::TestParamInfo<HostileFile>& info) { return "Case" + std::to_string(info.index); });

class HostileResources : public testing::TestWithParam<HostileFile> {};

TEST_P(HostileResources, AreAnErrorNotACrash) {
  Bytes f = PlainImage();
  GetParam().damage(f);
  PeImage image = MustParse(f);
  ResourceTree tree;
  EXPECT_NE(image.ReadResources(tree), std::nullopt) << GetParam().what;
}

// Damage inside the resource directories is the resource tree tests' matter.
INSTANTIATE_TEST_SUITE_P(
    Cases, HostileResources,
    testing::Values(
        HostileFile{"resource directory outside every section", [](Bytes& f) { Put32(f, kOptionalAt + 112 + 16, 0x9000); }},
        HostileFile{"resource directory past its section's file data", [](Bytes& f) { Put32(f, kOptionalAt + 112 + 16, 0x3000 + 0x300); }},
        HostileFile{"resource section without file data, its raw pointer past the end", [](Bytes& f) {
                      Put32(f, kTableAt + 80 + 16, 0);
                      Put32(f, kTableAt + 80 + 20, 0xFFFFFF00);
                    }}),
    [](const testing::TestParamInfo<HostileFile>& info) { return "Case" + std::to_string(info.index); });

TEST(PeImage, UnparsedImageAnswersWithErrorsAndNothing) {
  PeImage image;
  ResourceTree tree;
  EXPECT_NE(image.ReadResources(tree), std::nullopt);
  EXPECT_NE(image.ReplaceResources(SmallTree()), std::nullopt);
  EXPECT_FALSE(image.HasSignature());
  EXPECT_TRUE(image.Serialize().empty());
}

// --- Replacing resources of made-up images ---

// A file with `tail` appended and, when asked, made the certificate table.
Bytes WithTail(Bytes f, const Bytes& tail, bool certificates) {
  if (certificates) {
    Put32(f, kOptionalAt + 112 + 32, static_cast<uint32_t>(f.size()));
    Put32(f, kOptionalAt + 112 + 36, static_cast<uint32_t>(tail.size()));
  }
  f.insert(f.end(), tail.begin(), tail.end());
  return f;
}

struct Replacement {
  const char* what;
  Bytes original;
  ResourceTree tree;
  std::vector<std::string> names;  // the sections afterwards
};

class ReplacedImage : public testing::TestWithParam<Replacement> {};

// The new layout as a loader needs it, checked from the headers alone: sections follow each other
// in memory and in the file (resources on a page boundary, so that loaders can map them), the file
// ends with the last section, and sizes, directories and checksum agree with the sections.
TEST_P(ReplacedImage, IsLaidOutSoundlyAndReadsBack) {
  const Replacement& c = GetParam();
  PeImage image = MustParse(c.original);
  ASSERT_EQ(image.ReplaceResources(c.tree), std::nullopt) << c.what;
  EXPECT_FALSE(image.HasSignature());
  const Bytes f = image.Serialize();
  const Hdr h = ReadHdr(f);
  ASSERT_EQ(Names(h), c.names);
  EXPECT_EQ(Bytes(f.begin() + kTableAt + 40 * h.sections.size(), f.begin() + kTableAt + 40 * (h.sections.size() + 1)),
            Bytes(40, 0)) << "the entry after the last section";
  uint32_t memoryEnd = 0x1000, rawEnd = 0x400, initialized = 0;
  for (const Sec& s : h.sections) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(s.virtualAddress, memoryEnd);
    EXPECT_EQ(s.rawPointer, AlignUp(rawEnd, s.name == ".rsrc" ? 0x1000 : 0x200));
    EXPECT_EQ(s.rawSize, AlignUp(std::max<uint32_t>(s.virtualSize, 1), 0x200));
    if (s.name == ".rsrc") {
      EXPECT_EQ(s.characteristics, kResources);
      EXPECT_EQ(h.Dir(f, 2, 0), s.virtualAddress);
      EXPECT_EQ(h.Dir(f, 2, 1), s.virtualSize);
    }
    if (s.name == ".reloc") {
      EXPECT_EQ(s.characteristics, kRelocations);
      EXPECT_EQ(Bytes(f.begin() + s.rawPointer, f.begin() + s.rawPointer + 16), RelocationBlock());
      EXPECT_EQ(h.Dir(f, 5, 0), s.virtualAddress);
      EXPECT_EQ(h.Dir(f, 5, 1), 16u);
    }
    memoryEnd = AlignUp(s.virtualAddress + s.virtualSize, 0x1000);
    rawEnd = s.rawPointer + s.rawSize;
    if (s.characteristics & 0x40) initialized += s.rawSize;
  }
  EXPECT_EQ(f.size(), rawEnd);
  EXPECT_EQ(Le32(f, h.optional + 56), memoryEnd);  // SizeOfImage
  EXPECT_EQ(Le32(f, h.optional + 8), initialized);
  EXPECT_EQ(Le32(f, h.optional + 64), PeChecksum(f, h.optional + 64));
  if (c.tree.All().empty()) {
    EXPECT_EQ(h.Dir(f, 2, 0) | h.Dir(f, 2, 1), 0u);
  }
  EXPECT_EQ(h.Dir(f, 4, 0) | h.Dir(f, 4, 1), 0u) << "no certificate table";
  // Headers, .text and .data are the same but for the fields that follow the new layout.
  EXPECT_TRUE(std::equal(c.original.begin() + 0x400, c.original.begin() + 0x800, f.begin() + 0x400));
  ResourceTree back;
  ASSERT_EQ(MustParse(f).ReadResources(back), std::nullopt);
  EXPECT_EQ(Describe(back), Describe(c.tree));
  // Doing it again changes nothing.
  ASSERT_EQ(image.ReplaceResources(c.tree), std::nullopt);
  EXPECT_EQ(image.Serialize(), f);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplacedImage,
    testing::Values(
        Replacement{"an image without resources", MakeImage({Code(), Data()}, {}), SmallTree(), {".text", ".data", ".rsrc"}},
        Replacement{"a last resource section", ImageWithResources(SmallTree(), false), BigTree(), {".text", ".data", ".rsrc"}},
        // The old resources span two pages, the new ones one: relocations move down a page.
        Replacement{"resources before relocations", ImageWithResources(BigTree(), true), SmallTree(),
                    {".text", ".data", ".reloc", ".rsrc"}},
        Replacement{"an empty tree", ImageWithResources(SmallTree(), true), ResourceTree{}, {".text", ".data", ".reloc"}},
        Replacement{"zero padding after the sections", WithTail(ImageWithResources(SmallTree(), false), Bytes(0x300, 0), false),
                    SmallTree(), {".text", ".data", ".rsrc"}},
        Replacement{"a certificate table", WithTail(ImageWithResources(SmallTree(), true), Text("CERTIFICATE-TABLE"), true),
                    SmallTree(), {".text", ".data", ".reloc", ".rsrc"}}),
    [](const testing::TestParamInfo<Replacement>& info) { return "Case" + std::to_string(info.index); });

TEST(PeImage, TimeDateStampReadsAndWritesTheHeaderField) {
  PeImage image = MustParse(PlainImage());
  EXPECT_EQ(image.TimeDateStamp(), 0x5F000000u);
  EXPECT_EQ(image.Subsystem(), 2u);
  image.SetTimeDateStamp(0x12345678);
  EXPECT_EQ(image.TimeDateStamp(), 0x12345678u);
  EXPECT_EQ(Le32(image.Serialize(), kCoffAt + 4), 0x12345678u);
}

struct Refusal {
  const char* what;
  Bytes image;
  const char* message;  // a word the error must contain
};

class RefusedReplacement : public testing::TestWithParam<Refusal> {};

TEST_P(RefusedReplacement, FailsAndLeavesTheImageAlone) {
  PeImage image = MustParse(GetParam().image);
  const Bytes before = image.Serialize();
  const Error e = image.ReplaceResources(BigTree());
  ASSERT_NE(e, std::nullopt) << GetParam().what;
  EXPECT_NE(e->find(GetParam().message), std::string::npos) << *e;
  EXPECT_EQ(image.Serialize(), before);
}

Bytes Changed(Bytes f, const std::function<void(Bytes&)>& change) {
  change(f);
  return f;
}
Bytes WithDirectory(Bytes f, int index, uint32_t rva, uint32_t size) {
  Put32(f, kOptionalAt + 112 + 8 * index, rva);
  Put32(f, kOptionalAt + 112 + 8 * index + 4, size);
  return f;
}
Bytes Bare() { return MakeImage({Code(), Data()}, {}); }
Bytes ResourcesThen(std::vector<SectionPlan> after, uint32_t relocationRva = 0) {
  const Bytes r = SerializeResources(SmallTree(), 0x2000);
  after.insert(after.begin(), {Code(), {".rsrc", kResources, r}});
  return MakeImage(after, {{2, 0x2000, static_cast<uint32_t>(r.size())}, {5, relocationRva, relocationRva ? 16u : 0u}});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedReplacement,
    testing::Values(
        Refusal{"another section after the resources", ResourcesThen({Data()}), "follows"},
        Refusal{"a section after the relocations",
                ResourcesThen({{".reloc", kRelocations, RelocationBlock(0x1000)}, Data()}, 0x3000), "follows"},
        Refusal{"a relocation patching the resources",
                Changed(PlainImage(), [](Bytes& f) { Put32(f, ReadHdr(f).sections[3].rawPointer, 0x3000); }), "relocation"},
        Refusal{"a relocation block of 4 bytes",
                Changed(PlainImage(), [](Bytes& f) { Put32(f, ReadHdr(f).sections[3].rawPointer + 4, 4); }), "size"},
        Refusal{"relocations outside every section", WithDirectory(ImageWithResources(SmallTree(), false), 5, 0x9000, 16),
                "relocation"},
        Refusal{"the import table inside the resource section", WithDirectory(PlainImage(), 1, 0x3010, 20), "import"},
        Refusal{"the entry point inside the resource section",
                Changed(PlainImage(), [](Bytes& f) { Put32(f, kOptionalAt + 16, 0x3000); }), "entry point"},
        Refusal{"a resource section holding code",
                Changed(PlainImage(), [](Bytes& f) { Put32(f, kTableAt + 2 * 40 + 36, kCode); }), "code"},
        Refusal{"no directory entry for resources", Changed(Bare(), [](Bytes& f) { Put32(f, kOptionalAt + 108, 2); }), "no entry"},
        Refusal{"the resource directory outside every section", WithDirectory(Bare(), 2, 0x9000, 16), "no section"},
        Refusal{"appended data", WithTail(PlainImage(), Text("appended payload"), false), "after its last section"},
        Refusal{"a certificate table inside the sections", WithDirectory(PlainImage(), 4, 0x400, 0x100), "inside"},
        Refusal{"a certificate table past the end",
                Changed(PlainImage(), [](Bytes& f) { f = WithDirectory(f, 4, static_cast<uint32_t>(f.size()), 0x100); }),
                "past the end"},
        Refusal{"data after a certificate table",
                Changed(WithTail(PlainImage(), Bytes(0x20, 0x77), true), [](Bytes& f) { Put32(f, kOptionalAt + 112 + 36, 0x10); }),
                "after its last section"},
        // e.g. a bound import table
        Refusal{"a section table with something after it", Changed(Bare(), [](Bytes& f) { f[kTableAt + 2 * 40 + 5] = 0xCC; }),
                "no room"},
        Refusal{"headers ending at the section table",
                Changed(Bare(), [](Bytes& f) { Put32(f, kOptionalAt + 60, kTableAt + 2 * 40); }), "no room"}),
    [](const testing::TestParamInfo<Refusal>& info) { return "Case" + std::to_string(info.index); });

TEST(ReplaceResources, DamagedImagesNeverCrashAndWhatSucceedsReadsBack) {
  const Bytes base = ImageWithResources(BigTree(), true);
  std::mt19937 random(777);
  int replaced = 0;
  for (int round = 0; round < 1500; ++round) {
    Bytes f = base;
    const int hits = 1 + static_cast<int>(random() % 3);
    for (int h = 0; h < hits; ++h) {
      // Headers, section table and the resource directories, where offsets are.
      const size_t at = random() % 2 ? random() % 0x300 : 0x800 + random() % 0x100;
      f[at] = static_cast<uint8_t>(random());
    }
    PeImage image;
    if (PeImage::Parse(f, image)) continue;
    ResourceTree tree;
    (void)image.ReadResources(tree);
    if (image.ReplaceResources(SmallTree())) continue;
    ++replaced;
    PeImage again;
    ASSERT_EQ(PeImage::Parse(image.Serialize(), again), std::nullopt) << "round " << round;
    ResourceTree back;
    ASSERT_EQ(again.ReadResources(back), std::nullopt) << "round " << round;
    ASSERT_EQ(Describe(back), Describe(SmallTree())) << "round " << round;
  }
  EXPECT_GT(replaced, 0);
}

// --- The real stub ---

std::string StubPath() {
  const char* dir = std::getenv("CORVANE_WIN64_DIR");
  if (dir == nullptr || *dir == 0) {
    ADD_FAILURE() << "CORVANE_WIN64_DIR is not set: these tests need the win64 build's stub";
    return "";
  }
  return std::string(dir) + "/resources/corvane.exe";
}

// `inspect` reads the stored numbers as the launcher does (saturated at 32 bits), and a bitmap of
// any height stated in the file.
TEST(Inspect, ReadsEditedNumbersAndBitmapHeightsAsTheLauncherWould) {
  ResourceTree tree;
  const uint16_t block = IdSplashSeconds / 16 + 1;
  tree.Put(ResourceType::String, ResourceKey::Id(block), 0,
           EncodeStringBlock({{IdSplashSeconds, u"4294967296"}, {IdPriorityClass, u" -99999999999x"}}, block));
  Bytes dib(40, 0);
  Put32(dib, 0, 40);
  Put32(dib, 4, 2);
  Put32(dib, 8, 0x80000000u);
  Put16(dib, 14, 24);
  tree.Put(ResourceType::Bitmap, ResourceKey::Id(1), 0, dib);
  std::string out;
  ASSERT_EQ(InspectLauncher(ImageWithResources(tree, false), true, out), std::nullopt);
  const nlohmann::json report = nlohmann::json::parse(out);
  EXPECT_EQ(report["settings"]["SplashSeconds"]["value"], 2147483647);
  EXPECT_EQ(report["settings"]["PriorityClass"]["value"], -2147483648LL);
  EXPECT_EQ(report["resources"]["splash"], "2x2147483648, 24 bits");
}

class RealStub : public testing::Test {
 protected:
  void SetUp() override {
    path_ = StubPath();
    ASSERT_FALSE(path_.empty());
    bytes_ = ReadFile(path_);
    ASSERT_FALSE(bytes_.empty()) << "cannot read the stub at " << path_ << " (build the win64 preset first)";
    ASSERT_EQ(PeImage::Parse(bytes_, image_), std::nullopt);
  }
  ResourceTree Resources() {
    ResourceTree tree;
    const Error e = image_.ReadResources(tree);
    EXPECT_EQ(e, std::nullopt) << *e;
    return tree;
  }

  std::string path_;
  Bytes bytes_;
  PeImage image_;
};

std::string ObjdumpLine(const std::string& dump, const std::string& prefix) {
  std::istringstream in(dump);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) == 0) return line;
  }
  return "";
}

TEST_F(RealStub, ChecksumMatchesTheLinkers) {
  const Hdr h = ReadHdr(bytes_);
  EXPECT_NE(Le32(bytes_, h.optional + 64), 0u);
  EXPECT_EQ(PeChecksum(bytes_, h.optional + 64), Le32(bytes_, h.optional + 64));
}

// What corvane-build does to every launcher: objdump reads the same program and relocations from
// the rewritten stub, and everything before the old resource section stays where it was.
TEST_F(RealStub, SameResourcesWrittenBackReadTheSameWithObjdump) {
  PeImage copy = image_;
  ASSERT_EQ(copy.ReplaceResources(Resources()), std::nullopt);
  const Bytes f = copy.Serialize();
  const std::string out = TmpDir("stub") + "/same.exe";
  WriteFile(out, f);

  int status = 0;
  const std::string dump = Capture("x86_64-w64-mingw32-objdump -p " + Quote(out) + " 2>&1", &status);
  EXPECT_EQ(status, 0) << dump;
  const Hdr before = ReadHdr(bytes_), after = ReadHdr(f);
  const std::string original = Capture("x86_64-w64-mingw32-objdump -p " + Quote(path_));
  for (const char* field : {"AddressOfEntryPoint", "ImageBase", "Entry 1 ", "Entry 3 ", "Entry 9 ", "Entry c "}) {
    EXPECT_EQ(ObjdumpLine(dump, field), ObjdumpLine(original, field)) << field;
  }
  EXPECT_NE(dump.find("DLL Name: KERNEL32.dll"), std::string::npos);
  EXPECT_NE(ObjdumpLine(dump, "Entry 2 ").find("[.rsrc]"), std::string::npos) << ObjdumpLine(dump, "Entry 2 ");
  EXPECT_NE(ObjdumpLine(dump, "Entry 5 ").find("[.reloc]"), std::string::npos) << ObjdumpLine(dump, "Entry 5 ");
  // The relocations moved but still patch the same places.
  const auto relocations = [](const std::string& d) {
    const size_t at = d.find("PE File Base Relocations");
    if (at == std::string::npos) return std::string();
    return d.substr(at, d.find("The .rsrc Resource Directory", at) - at);
  };
  EXPECT_FALSE(relocations(original).empty());
  EXPECT_EQ(relocations(dump), relocations(original));

  size_t rsrc = 0;
  while (rsrc < before.sections.size() && before.sections[rsrc].name != ".rsrc") ++rsrc;
  ASSERT_LT(rsrc, before.sections.size());
  const size_t headersEnd = Le32(bytes_, before.optional + 60), keptEnd = before.sections[rsrc].rawPointer;
  EXPECT_TRUE(std::equal(bytes_.begin() + headersEnd, bytes_.begin() + keptEnd, f.begin() + headersEnd));
  ASSERT_EQ(after.sections.size(), before.sections.size());
  for (size_t i = 0; i < rsrc; ++i) {
    EXPECT_EQ(after.sections[i].virtualAddress, before.sections[i].virtualAddress);
    EXPECT_EQ(after.sections[i].rawPointer, before.sections[i].rawPointer);
  }
  EXPECT_EQ(after.sections.back().name, ".rsrc");
}

}  // namespace
}  // namespace corvane::builder
