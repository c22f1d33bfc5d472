// The PE image: reading any file safely, and replacing the resources of small made-up images and of
// the real stub, checked with independent tools (wrestool, objdump, osslsigncode) and under Wine.
#include "byte_order.h"
#include "launcher/setting_table.h"
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
#include <regex>
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
  uint32_t virtualSize = 0;  // 0: the data's size
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
    const uint32_t virtualSize = s.virtualSize ? s.virtualSize : static_cast<uint32_t>(s.data.size());
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

struct ChecksumCase {
  const char* what;
  Bytes file;
  size_t checksumOffset;
  uint32_t expected;
};

class PeChecksumSum : public testing::TestWithParam<ChecksumCase> {};

TEST_P(PeChecksumSum, SumsWordsFoldsCarriesAndAddsTheLength) {
  EXPECT_EQ(PeChecksum(GetParam().file, GetParam().checksumOffset), GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PeChecksumSum,
    testing::Values(ChecksumCase{"empty file", {}, 0, 0},
                    ChecksumCase{"odd last byte counts as a low byte", {0x01}, 100, 2},
                    ChecksumCase{"carry folds back in", {0xFF, 0xFF, 0x01, 0x00}, 100, 5},
                    ChecksumCase{"carries fold again", {0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00}, 100, 8},
                    ChecksumCase{"the checksum field counts as zero", {0x34, 0x12, 0xAA, 0xBB, 0x01, 0x00}, 2, 0x123A},
                    ChecksumCase{"an odd checksum offset", {0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, 1, 0x607}));

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

// .rsrc raw data starts at 0x400 + 0x200 (.text) + 0x200 (.data).
constexpr size_t kRsrcRaw = 0x800;
INSTANTIATE_TEST_SUITE_P(
    Cases, HostileResources,
    testing::Values(
        HostileFile{"resource directory outside every section", [](Bytes& f) { Put32(f, kOptionalAt + 112 + 16, 0x9000); }},
        HostileFile{"resource directory past its section's file data", [](Bytes& f) { Put32(f, kOptionalAt + 112 + 16, 0x3000 + 0x300); }},
        HostileFile{"resource section without file data, its raw pointer past the end", [](Bytes& f) {
                      Put32(f, kTableAt + 80 + 16, 0);
                      Put32(f, kTableAt + 80 + 20, 0xFFFFFF00);
                    }},
        HostileFile{"type entry pointing to the root", [](Bytes& f) { Put32(f, kRsrcRaw + 16 + 4, 0x80000000u); }},
        HostileFile{"data size past the section", [](Bytes& f) {
                      // The second data entry's size (directories: root 32, two types 48, two names 48).
                      Put32(f, kRsrcRaw + 32 + 48 + 48 + 16 + 4, 0x10000);
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

TEST(ReplaceResources, AddsAResourceSectionToAnImageWithoutOne) {
  PeImage image = MustParse(MakeImage({Code(), Data()}, {}));
  ResourceTree none;
  ASSERT_EQ(image.ReadResources(none), std::nullopt);
  EXPECT_TRUE(none.All().empty());

  ASSERT_EQ(image.ReplaceResources(SmallTree()), std::nullopt);
  const Bytes f = image.Serialize();
  const Hdr h = ReadHdr(f);
  EXPECT_EQ(Names(h), (std::vector<std::string>{".text", ".data", ".rsrc"}));
  const Sec& r = h.sections[2];
  EXPECT_EQ(r.virtualAddress, 0x3000u);
  EXPECT_EQ(r.rawPointer, 0x800u);
  EXPECT_EQ(r.rawSize, 0x200u);
  EXPECT_EQ(r.characteristics, 0x40000040u);
  EXPECT_EQ(h.Dir(f, 2, 0), 0x3000u);
  EXPECT_EQ(h.Dir(f, 2, 1), r.virtualSize);
  EXPECT_EQ(Le32(f, h.optional + 56), 0x4000u);           // SizeOfImage
  EXPECT_EQ(Le32(f, h.optional + 8), 0x200u + 0x200u);    // .data and .rsrc
  EXPECT_EQ(f.size(), 0xA00u);
  ResourceTree back;
  ASSERT_EQ(MustParse(f).ReadResources(back), std::nullopt);
  EXPECT_EQ(Describe(back), Describe(SmallTree()));
}

TEST(ReplaceResources, ReplacesALastResourceSectionInPlace) {
  PeImage image = MustParse(ImageWithResources(SmallTree(), false));
  ASSERT_EQ(image.ReplaceResources(BigTree()), std::nullopt);
  const Bytes f = image.Serialize();
  const Hdr h = ReadHdr(f);
  EXPECT_EQ(Names(h), (std::vector<std::string>{".text", ".data", ".rsrc"}));
  EXPECT_EQ(h.sections[2].virtualAddress, 0x3000u);
  EXPECT_EQ(h.sections[2].rawSize, AlignUp(h.sections[2].virtualSize, 0x200));
  EXPECT_EQ(Le32(f, h.optional + 56), AlignUp(0x3000 + h.sections[2].virtualSize, 0x1000));
  EXPECT_EQ(Le32(f, h.optional + 8), 0x200u + h.sections[2].rawSize);
  EXPECT_EQ(f.size(), h.sections[2].rawPointer + h.sections[2].rawSize);
  ResourceTree back;
  ASSERT_EQ(MustParse(f).ReadResources(back), std::nullopt);
  EXPECT_EQ(Describe(back), Describe(BigTree()));
}

TEST(ReplaceResources, MovesRelocationsUpAndPutsResourcesLast) {
  // The old resources span two pages; the new ones one, so relocations move down a page.
  const Bytes original = ImageWithResources(BigTree(), true);
  const Hdr before = ReadHdr(original);
  ASSERT_EQ(before.sections[3].virtualAddress, 0x5000u);
  PeImage image = MustParse(original);
  ASSERT_EQ(image.ReplaceResources(SmallTree()), std::nullopt);
  const Bytes f = image.Serialize();
  const Hdr h = ReadHdr(f);
  EXPECT_EQ(Names(h), (std::vector<std::string>{".text", ".data", ".reloc", ".rsrc"}));
  const Sec& reloc = h.sections[2];
  const Sec& rsrc = h.sections[3];
  EXPECT_EQ(reloc.virtualAddress, 0x3000u);
  EXPECT_EQ(reloc.characteristics, kRelocations);
  EXPECT_EQ(reloc.rawPointer, 0x800u);
  EXPECT_EQ(Bytes(f.begin() + reloc.rawPointer, f.begin() + reloc.rawPointer + 16), RelocationBlock());
  EXPECT_EQ(h.Dir(f, 5, 0), 0x3000u);
  EXPECT_EQ(h.Dir(f, 5, 1), 16u);
  EXPECT_EQ(rsrc.virtualAddress, 0x4000u);
  EXPECT_EQ(rsrc.rawPointer, 0xA00u);
  EXPECT_EQ(rsrc.characteristics, kResources);
  EXPECT_EQ(h.Dir(f, 2, 0), 0x4000u);
  EXPECT_EQ(Le32(f, h.optional + 56), 0x5000u);
  EXPECT_EQ(Le32(f, h.optional + 8), 0x200u + 0x200u + 0x200u);
  EXPECT_EQ(f.size(), 0xC00u);
  // Headers and kept sections are byte for byte the same, but for the fields that must change.
  EXPECT_TRUE(std::equal(original.begin() + 0x400, original.begin() + 0x800, f.begin() + 0x400));
  ResourceTree back;
  ASSERT_EQ(MustParse(f).ReadResources(back), std::nullopt);
  EXPECT_EQ(Describe(back), Describe(SmallTree()));
}

TEST(ReplaceResources, EmptyTreeLeavesNoResourceSection) {
  PeImage image = MustParse(ImageWithResources(SmallTree(), true));
  ASSERT_EQ(image.ReplaceResources(ResourceTree{}), std::nullopt);
  const Bytes f = image.Serialize();
  const Hdr h = ReadHdr(f);
  EXPECT_EQ(Names(h), (std::vector<std::string>{".text", ".data", ".reloc"}));
  EXPECT_EQ(h.Dir(f, 2, 0), 0u);
  EXPECT_EQ(h.Dir(f, 2, 1), 0u);
  EXPECT_EQ(h.Dir(f, 5, 0), 0x3000u);
  EXPECT_EQ(Bytes(f.begin() + kTableAt + 3 * 40, f.begin() + kTableAt + 4 * 40), Bytes(40, 0));
  ResourceTree back;
  ASSERT_EQ(MustParse(f).ReadResources(back), std::nullopt);
  EXPECT_TRUE(back.All().empty());
}

TEST(ReplaceResources, DropsZeroPaddingAfterTheSections) {
  Bytes padded = ImageWithResources(SmallTree(), false);
  padded.resize(padded.size() + 0x300, 0);
  PeImage image = MustParse(padded);
  ASSERT_EQ(image.ReplaceResources(SmallTree()), std::nullopt);
  const Bytes f = image.Serialize();
  const Hdr h = ReadHdr(f);
  const Sec& last = h.sections.back();
  EXPECT_EQ(f.size(), last.rawPointer + last.rawSize);
}

TEST(ReplaceResources, RemovesACertificateTable) {
  Bytes signedImage = ImageWithResources(SmallTree(), true);
  const uint32_t at = static_cast<uint32_t>(signedImage.size());
  const Bytes certificate = Text("CERTIFICATE-TABLE-BYTES!");
  signedImage.insert(signedImage.end(), certificate.begin(), certificate.end());
  Put32(signedImage, kOptionalAt + 112 + 32, at);
  Put32(signedImage, kOptionalAt + 112 + 36, static_cast<uint32_t>(certificate.size()));
  PeImage image = MustParse(signedImage);
  EXPECT_TRUE(image.HasSignature());
  ASSERT_EQ(image.ReplaceResources(SmallTree()), std::nullopt);
  EXPECT_FALSE(image.HasSignature());
  const Bytes f = image.Serialize();
  EXPECT_EQ(std::search(f.begin(), f.end(), certificate.begin(), certificate.end()), f.end());
  EXPECT_EQ(ReadHdr(f).Dir(f, 4, 0), 0u);
  EXPECT_EQ(ReadHdr(f).Dir(f, 4, 1), 0u);
}

TEST(ReplaceResources, SameTreeGivesTheSameBytes) {
  PeImage a = MustParse(ImageWithResources(BigTree(), true));
  PeImage b = MustParse(ImageWithResources(BigTree(), true));
  ASSERT_EQ(a.ReplaceResources(SmallTree()), std::nullopt);
  ASSERT_EQ(b.ReplaceResources(SmallTree()), std::nullopt);
  EXPECT_EQ(a.Serialize(), b.Serialize());
  // Doing it again changes nothing either.
  ASSERT_EQ(a.ReplaceResources(SmallTree()), std::nullopt);
  EXPECT_EQ(a.Serialize(), b.Serialize());
}

TEST(PeImage, TimeDateStampReadsAndWritesTheHeaderField) {
  PeImage image = MustParse(PlainImage());
  EXPECT_EQ(image.TimeDateStamp(), 0x5F000000u);
  EXPECT_EQ(image.Subsystem(), 2u);
  image.SetTimeDateStamp(0x12345678);
  EXPECT_EQ(image.TimeDateStamp(), 0x12345678u);
  EXPECT_EQ(Le32(image.Serialize(), kCoffAt + 4), 0x12345678u);
}

TEST(PeImage, SerializeWritesTheChecksumOfTheFile) {
  const Bytes f = MustParse(PlainImage()).Serialize();
  EXPECT_NE(Le32(f, kOptionalAt + 64), 0u);
  EXPECT_EQ(Le32(f, kOptionalAt + 64), PeChecksum(f, kOptionalAt + 64));
}

struct Refusal {
  const char* what;
  std::function<Bytes()> image;
  const char* message;  // a word the error must contain
};

class RefusedReplacement : public testing::TestWithParam<Refusal> {};

TEST_P(RefusedReplacement, FailsAndLeavesTheImageAlone) {
  PeImage image = MustParse(GetParam().image());
  const Bytes before = image.Serialize();
  const Error e = image.ReplaceResources(BigTree());
  ASSERT_NE(e, std::nullopt) << GetParam().what;
  EXPECT_NE(e->find(GetParam().message), std::string::npos) << *e;
  EXPECT_EQ(image.Serialize(), before);
}

Bytes WithDirectory(Bytes f, int index, uint32_t rva, uint32_t size) {
  Put32(f, kOptionalAt + 112 + 8 * index, rva);
  Put32(f, kOptionalAt + 112 + 8 * index + 4, size);
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedReplacement,
    testing::Values(
        Refusal{"another section after the resources",
                [] {
                  const Bytes r = SerializeResources(SmallTree(), 0x3000);
                  return MakeImage({Code(), {".rsrc", kResources, r}, Data()}, {{2, 0x2000, static_cast<uint32_t>(r.size())}});
                },
                "follows"},
        Refusal{"a section after the relocations",
                [] {
                  Bytes r = SerializeResources(SmallTree(), 0x2000);
                  return MakeImage({Code(), {".rsrc", kResources, r}, {".reloc", kRelocations, RelocationBlock(0x1000)}, Data()},
                                   {{2, 0x2000, static_cast<uint32_t>(r.size())}, {5, 0x3000, 16}});
                },
                "follows"},
        Refusal{"a relocation patching the resources",
                [] {
                  Bytes f = ImageWithResources(SmallTree(), true);
                  const size_t relocRaw = ReadHdr(f).sections[3].rawPointer;
                  Put32(f, relocRaw, 0x3000);
                  return f;
                },
                "relocation"},
        Refusal{"a relocation block of 4 bytes",
                [] {
                  Bytes f = ImageWithResources(SmallTree(), true);
                  Put32(f, ReadHdr(f).sections[3].rawPointer + 4, 4);
                  return f;
                },
                "size"},
        Refusal{"relocations outside every section",
                [] { return WithDirectory(ImageWithResources(SmallTree(), false), 5, 0x9000, 16); }, "relocation"},
        Refusal{"the import table inside the resource section",
                [] { return WithDirectory(ImageWithResources(SmallTree(), true), 1, 0x3010, 20); }, "import"},
        Refusal{"the entry point inside the resource section",
                [] {
                  Bytes f = ImageWithResources(SmallTree(), true);
                  Put32(f, kOptionalAt + 16, 0x3000);
                  return f;
                },
                "entry point"},
        Refusal{"a resource section holding code",
                [] {
                  Bytes f = ImageWithResources(SmallTree(), true);
                  Put32(f, kTableAt + 2 * 40 + 36, kCode);
                  return f;
                },
                "code"},
        Refusal{"no directory entry for resources",
                [] {
                  Bytes f = MakeImage({Code(), Data()}, {});
                  Put32(f, kOptionalAt + 108, 2);
                  return f;
                },
                "no entry"},
        Refusal{"the resource directory outside every section",
                [] { return WithDirectory(MakeImage({Code(), Data()}, {}), 2, 0x9000, 16); }, "no section"},
        Refusal{"appended data",
                [] {
                  Bytes f = ImageWithResources(SmallTree(), true);
                  const Bytes tail = Text("appended payload");
                  f.insert(f.end(), tail.begin(), tail.end());
                  return f;
                },
                "after its last section"},
        Refusal{"a certificate table inside the sections",
                [] { return WithDirectory(ImageWithResources(SmallTree(), true), 4, 0x400, 0x100); }, "inside"},
        Refusal{"a certificate table past the end",
                [] {
                  Bytes f = ImageWithResources(SmallTree(), true);
                  return WithDirectory(f, 4, static_cast<uint32_t>(f.size()), 0x100);
                },
                "past the end"},
        Refusal{"data after a certificate table",
                [] {
                  Bytes f = ImageWithResources(SmallTree(), true);
                  const uint32_t at = static_cast<uint32_t>(f.size());
                  f.resize(f.size() + 0x20, 0x77);
                  return WithDirectory(f, 4, at, 0x10);
                },
                "after its last section"},
        Refusal{"a section table with something after it",
                [] {
                  Bytes f = MakeImage({Code(), Data()}, {});
                  f[kTableAt + 2 * 40 + 5] = 0xCC;  // e.g. a bound import table
                  return f;
                },
                "no room"},
        Refusal{"headers ending at the section table",
                [] {
                  Bytes f = MakeImage({Code(), Data()}, {});
                  Put32(f, kOptionalAt + 60, kTableAt + 2 * 40);
                  return f;
                },
                "no room"}),
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
  // Writes the image with the tree as its resources, and answers its path.
  std::string Rewrite(const ResourceTree& tree, const std::string& name) {
    PeImage copy = image_;
    const Error e = copy.ReplaceResources(tree);
    EXPECT_EQ(e, std::nullopt) << *e;
    const std::string out = TmpDir("stub") + "/" + name;
    WriteFile(out, copy.Serialize());
    return out;
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

// wrestool's list, without the file offsets (which move).
std::vector<std::string> WrestoolList(const std::string& exe) {
  std::vector<std::string> lines;
  std::istringstream in(Capture("wrestool -l " + Quote(exe)));
  for (std::string line; std::getline(in, line);) {
    lines.push_back(std::regex_replace(line, std::regex("offset=0x[0-9a-fA-F]+ ?"), ""));
  }
  return lines;
}

std::string WrestoolExtract(const std::string& exe, const Resource& r) {
  return Capture("wrestool -x --raw --type=" + std::to_string(r.type.id) + " --name=" + std::to_string(r.name.id) +
                 " --language=" + std::to_string(r.language) + " " + Quote(exe));
}

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

TEST_F(RealStub, ResourcesReadAsWrestoolSeesThem) {
  const ResourceTree tree = Resources();
  const auto listed = WrestoolList(path_);
  ASSERT_EQ(listed.size(), tree.All().size());
  ASSERT_GE(tree.All().size(), 5u);
  for (size_t i = 0; i < listed.size(); ++i) {
    const Resource& r = tree.All()[i];
    ASSERT_TRUE(r.type.IsId() && r.name.IsId());
    const std::string key = "--type=" + std::to_string(r.type.id) + " --name=" + std::to_string(r.name.id) +
                            " --language=" + std::to_string(r.language) + " ";
    EXPECT_EQ(listed[i].rfind(key, 0), 0u) << listed[i];
    EXPECT_NE(listed[i].find("size=" + std::to_string(r.data.size()) + "]"), std::string::npos) << listed[i];
    EXPECT_EQ(WrestoolExtract(path_, r), std::string(r.data.begin(), r.data.end())) << key;
  }
}

TEST_F(RealStub, SameResourcesWrittenBackReadTheSameWithOtherTools) {
  const ResourceTree tree = Resources();
  const std::string out = Rewrite(tree, "same.exe");
  const Bytes f = ReadFile(out);

  EXPECT_EQ(WrestoolList(out), WrestoolList(path_));
  for (const auto& r : tree.All()) EXPECT_EQ(WrestoolExtract(out, r), WrestoolExtract(path_, r));

  int status = 0;
  const std::string dump = Capture("x86_64-w64-mingw32-objdump -p " + Quote(out) + " 2>&1", &status);
  EXPECT_EQ(status, 0) << dump;
  const Hdr h = ReadHdr(f);
  char checksum[64];
  std::snprintf(checksum, sizeof checksum, "CheckSum\t\t%08x", PeChecksum(f, h.optional + 64));
  EXPECT_EQ(ObjdumpLine(dump, "CheckSum"), checksum);
  EXPECT_EQ(Le32(f, h.optional + 64), PeChecksum(f, h.optional + 64));
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

  // Everything before the old resource section is the same but for the header fields that follow
  // the new layout.
  const Hdr before = ReadHdr(bytes_);
  size_t rsrc = 0;
  while (rsrc < before.sections.size() && before.sections[rsrc].name != ".rsrc") ++rsrc;
  ASSERT_LT(rsrc, before.sections.size());
  const size_t headersEnd = Le32(bytes_, before.optional + 60), keptEnd = before.sections[rsrc].rawPointer;
  EXPECT_TRUE(std::equal(bytes_.begin() + headersEnd, bytes_.begin() + keptEnd, f.begin() + headersEnd));
  const Hdr after = ReadHdr(f);
  ASSERT_EQ(after.sections.size(), before.sections.size());
  for (size_t i = 0; i < rsrc; ++i) {
    EXPECT_EQ(after.sections[i].virtualAddress, before.sections[i].virtualAddress);
    EXPECT_EQ(after.sections[i].rawPointer, before.sections[i].rawPointer);
  }
  EXPECT_EQ(after.sections.back().name, ".rsrc");
  // objdump finds relocations by the section's name; the loader goes by the directory entry.
  const Sec& oldReloc = before.sections.back();
  const Sec& newReloc = after.sections[after.sections.size() - 2];
  EXPECT_EQ(newReloc.name, ".reloc");
  ASSERT_EQ(before.Dir(bytes_, 5, 0), oldReloc.virtualAddress);
  EXPECT_EQ(after.Dir(f, 5, 0), newReloc.virtualAddress);
  EXPECT_EQ(after.Dir(f, 5, 1), before.Dir(bytes_, 5, 1));
  EXPECT_TRUE(std::equal(bytes_.begin() + oldReloc.rawPointer, bytes_.begin() + oldReloc.rawPointer + oldReloc.rawSize,
                         f.begin() + newReloc.rawPointer));
}

TEST_F(RealStub, AChangedStringBlockShowsInWrestool) {
  ResourceTree tree = Resources();
  const auto strings = tree.OfType(ResourceType::String);
  ASSERT_FALSE(strings.empty());
  const Resource changed = *strings.back();
  // A block of 16 entries: the first is "Hi", the rest empty.
  Bytes block(2 + 4 + 15 * 2, 0);
  Put16(block, 0, 2);
  block[2] = 'H';
  block[4] = 'i';
  tree.Put(changed.type, changed.name, changed.language, block);
  const std::string out = Rewrite(tree, "changed.exe");
  EXPECT_EQ(WrestoolExtract(out, changed), std::string(block.begin(), block.end()));
  for (const auto& r : tree.All()) {
    if (r.name == changed.name && r.type == changed.type) continue;
    EXPECT_EQ(WrestoolExtract(out, r), WrestoolExtract(path_, r));
  }
}

TEST_F(RealStub, RewrittenStubStillRunsUnderWine) {
  const std::string out = Rewrite(Resources(), "runs.exe");
  const std::string prefix = TmpDir("wine") + "/prefix";
  // Removing temporary jar files ends at once with status 0 and opens no window.
  const std::string script =
      "export WINEPREFIX=" + Quote(prefix) + " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='; "
      "if [ ! -f " + Quote(prefix + "/system.reg") + " ]; then wineboot -i >/dev/null 2>&1; wineserver -w; fi; "
      "wine " + Quote(out) + " -cvremovetemporaryjarfiles 1 >/dev/null 2>&1; status=$?; "
      "wineserver -k >/dev/null 2>&1; exit $status";
  int status = -1;
  Capture("bash -c " + Quote(script), &status);
  EXPECT_EQ(status, 0);
}

TEST_F(RealStub, SignatureIsRemovedAndTheOutputCanBeSignedAgain) {
  const std::string dir = TmpDir("signature");
  const std::string key = dir + "/key.pem", cert = dir + "/cert.pem";
  int status = -1;
  const std::string made = Capture("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + Quote(key) + " -out " + Quote(cert) +
                                   " -days 2 -subj '/CN=Corvane Test' 2>&1", &status);
  ASSERT_EQ(status, 0) << made;
  const std::string signedPath = dir + "/signed.exe";
  auto sign = [&](const std::string& in, const std::string& out) {
    fs::remove(out);
    int result = -1;
    const std::string log = Capture("osslsigncode sign -certs " + Quote(cert) + " -key " + Quote(key) + " -in " + Quote(in) +
                                    " -out " + Quote(out) + " 2>&1", &result);
    EXPECT_EQ(result, 0) << log;
  };
  sign(path_, signedPath);
  const Bytes signedBytes = ReadFile(signedPath);
  const Hdr signedHdr = ReadHdr(signedBytes);
  const uint32_t certOffset = signedHdr.Dir(signedBytes, 4, 0), certSize = signedHdr.Dir(signedBytes, 4, 1);
  ASSERT_NE(certSize, 0u);
  ASSERT_LE(static_cast<size_t>(certOffset) + certSize, signedBytes.size());
  const Bytes certificateTable(signedBytes.begin() + certOffset, signedBytes.begin() + certOffset + certSize);

  PeImage image;
  ASSERT_EQ(PeImage::Parse(signedBytes, image), std::nullopt);
  EXPECT_TRUE(image.HasSignature());
  ResourceTree tree;
  ASSERT_EQ(image.ReadResources(tree), std::nullopt);
  ASSERT_EQ(image.ReplaceResources(tree), std::nullopt);
  EXPECT_FALSE(image.HasSignature());
  const Bytes out = image.Serialize();
  // No piece of the certificate table remains (its first 64 bytes are enough to tell).
  const Bytes probe(certificateTable.begin() + 8, certificateTable.begin() + 72);
  EXPECT_EQ(std::search(out.begin(), out.end(), probe.begin(), probe.end()), out.end());
  const Hdr h = ReadHdr(out);
  EXPECT_EQ(h.Dir(out, 4, 0), 0u);
  EXPECT_EQ(h.Dir(out, 4, 1), 0u);
  EXPECT_EQ(out.size(), h.sections.back().rawPointer + h.sections.back().rawSize);

  const std::string unsignedPath = dir + "/unsigned.exe", resigned = dir + "/resigned.exe";
  WriteFile(unsignedPath, out);
  sign(unsignedPath, resigned);
  const std::string verify = Capture("osslsigncode verify -CAfile " + Quote(cert) + " -in " + Quote(resigned) + " 2>&1", &status);
  EXPECT_EQ(status, 0) << verify;
  EXPECT_NE(verify.find("Signature verification: ok"), std::string::npos) << verify;
}

}  // namespace
}  // namespace corvane::builder
