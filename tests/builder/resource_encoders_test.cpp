// The resource encoders against windres: each case writes the resource script a developer would
// write for the same input, compiles it to a .res file and compares the data byte for byte. Damaged
// and hostile inputs must give an error and leave the output as it was.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "byte_order.h"
#include "resource_encoders.h"

namespace corvane::builder {
namespace {

namespace fs = std::filesystem;

const fs::path kSourceDir = CORVANE_SOURCE_DIR;
const fs::path kImages = kSourceDir / "tests" / "fixtures" / "images";

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, std::span<const uint8_t> data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  ASSERT_TRUE(out) << "cannot write " << path;
}

Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

// An empty directory of the running test's own.
fs::path ScratchDir() {
  const auto* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(test->test_suite_name()) + "." + test->name();
  for (char& c : name) {
    if (!isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') c = '_';
  }
  const fs::path dir = fs::path(CORVANE_TEST_TMP) / "resource_encoders" / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// Test names from the cases' names (or file names).
std::string NameOf(std::string name) {
  for (char& ch : name) {
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
}
constexpr auto kByName = [](const auto& info) { return NameOf(info.param.name); };

// --- windres and its .res files ---

// Compiles `script` in `dir` (where the files it names lie) and gives the data of each resource by
// "type/name"; empty (and a failure) when windres refuses it.
std::map<std::string, Bytes> Windres(const fs::path& dir, const std::string& script) {
  std::ofstream(dir / "oracle.rc") << script;
  const std::string command = "cd '" + dir.string() +
                              "' && x86_64-w64-mingw32-windres -c 65001 -O res oracle.rc oracle.res"
                              " 2> windres.log";
  if (std::system(command.c_str()) != 0) {
    const Bytes log = ReadFile(dir / "windres.log");
    ADD_FAILURE() << "windres failed on:\n" << script << "\n" << std::string(log.begin(), log.end());
    return {};
  }
  // RESOURCEHEADER: DataSize, HeaderSize, TYPE and NAME (0xFFFF + id: these scripts name nothing),
  // ...; then the data, padded to a DWORD. An empty first entry marks the file.
  const Bytes res = ReadFile(dir / "oracle.res");
  std::map<std::string, Bytes> entries;
  for (size_t at = 0; at < res.size();) {
    const uint32_t dataSize = res.size() - at >= 32 ? Le32(res, at) : 0;
    const uint32_t headerSize = res.size() - at >= 32 ? Le32(res, at + 4) : 0;
    if (headerSize < 32 || !Fits(res.size(), at, uint64_t{headerSize} + dataSize) ||
        Le16(res, at + 8) != 0xFFFF || Le16(res, at + 12) != 0xFFFF) {
      ADD_FAILURE() << "the .res file is not as expected at " << at;
      break;
    }
    const std::string key = std::to_string(Le16(res, at + 10)) + "/" + std::to_string(Le16(res, at + 14));
    if (dataSize != 0) entries[key] = Bytes(res.begin() + static_cast<ptrdiff_t>(at + headerSize),
                                            res.begin() + static_cast<ptrdiff_t>(at + headerSize + dataSize));
    at = AlignUp(at + headerSize + dataSize, 4);
  }
  return entries;
}

// Shows where two byte strings part.
testing::AssertionResult SameBytes(const Bytes& expected, const Bytes& actual) {
  if (expected == actual) return testing::AssertionSuccess();
  size_t i = 0;
  while (i < expected.size() && i < actual.size() && expected[i] == actual[i]) ++i;
  char buf[160];
  std::snprintf(buf, sizeof buf, "sizes %zu (windres) and %zu (encoder); first difference at %zu",
                expected.size(), actual.size(), i);
  std::string msg = buf;
  if (i < expected.size() && i < actual.size()) {
    std::snprintf(buf, sizeof buf, ": %02x against %02x", expected[i], actual[i]);
    msg += buf;
  }
  return testing::AssertionFailure() << msg;
}

// --- Version numbers ---

struct VersionNumberCase {
  const char* text;
  std::optional<std::array<uint16_t, 4>> parsed;  // nullopt: refused
};

class VersionNumberTest : public testing::TestWithParam<VersionNumberCase> {};

TEST_P(VersionNumberTest, ParsesOrRefusesWithoutTouchingTheOutput) {
  const VersionNumberCase& c = GetParam();
  std::array<uint16_t, 4> out{9, 9, 9, 9};
  const Error e = ParseVersionNumber(c.text, out);
  if (c.parsed) {
    ASSERT_FALSE(e) << *e;
    EXPECT_EQ(out, *c.parsed);
  } else {
    ASSERT_TRUE(e) << "accepted \"" << c.text << "\"";
    EXPECT_FALSE(e->empty());
    EXPECT_EQ(out, (std::array<uint16_t, 4>{9, 9, 9, 9}));
  }
}

using V4 = std::array<uint16_t, 4>;
INSTANTIATE_TEST_SUITE_P(
    Texts, VersionNumberTest,
    testing::Values(VersionNumberCase{"1", V4{1, 0, 0, 0}}, VersionNumberCase{"1.2.3", V4{1, 2, 3, 0}},
                    VersionNumberCase{"65535.0.00300.65535", V4{65535, 0, 300, 65535}},
                    VersionNumberCase{"1.2.3.4.5", {}}, VersionNumberCase{"70000", {}},
                    VersionNumberCase{"65536", {}}, VersionNumberCase{"a.b", {}}, VersionNumberCase{"", {}},
                    VersionNumberCase{"1..2", {}}, VersionNumberCase{".1", {}}, VersionNumberCase{"1.", {}},
                    VersionNumberCase{"1.2.3.4.", {}}, VersionNumberCase{" 1", {}}, VersionNumberCase{"1 ", {}},
                    VersionNumberCase{"-1", {}}, VersionNumberCase{"+1", {}}, VersionNumberCase{"0x10", {}},
                    VersionNumberCase{"1,2", {}}, VersionNumberCase{"99999999999999999999999", {}}));

// --- Version information ---

std::string VersionScript(const VersionInfo& v) {
  auto quoted = [](const std::string& text) {
    std::string s = "\"";
    for (char c : text) s += c == '"' ? "\"\"" : c == '\\' ? "\\\\" : c == '\t' ? "\\t" : std::string(1, c);
    return s + "\"";
  };
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "#include <winver.h>\n1 VERSIONINFO\nFILEVERSION %u,%u,%u,%u\nPRODUCTVERSION %u,%u,%u,%u\n"
                "FILEFLAGSMASK 0x3f\nFILEFLAGS 0\nFILEOS VOS_NT_WINDOWS32\nFILETYPE VFT_APP\nFILESUBTYPE 0\n"
                "BEGIN\n  BLOCK \"StringFileInfo\"\n  BEGIN\n    BLOCK \"%04X%04X\"\n    BEGIN\n",
                v.fileVersion[0], v.fileVersion[1], v.fileVersion[2], v.fileVersion[3], v.productVersion[0],
                v.productVersion[1], v.productVersion[2], v.productVersion[3], v.language, v.codePage);
  std::string s = buf;
  // In the order the encoder writes them.
  const std::pair<const char*, const std::string*> values[] = {
      {"CompanyName", &v.companyName},       {"FileDescription", &v.fileDescription},
      {"FileVersion", &v.fileVersionText},   {"InternalName", &v.internalName},
      {"LegalCopyright", &v.legalCopyright}, {"OriginalFilename", &v.originalFilename},
      {"ProductName", &v.productName},       {"ProductVersion", &v.productVersionText}};
  for (const auto& [key, text] : values) {
    if (!text->empty()) s += "      VALUE \"" + std::string(key) + "\", " + quoted(*text) + "\n";
  }
  std::snprintf(buf, sizeof buf,
                "    END\n  END\n  BLOCK \"VarFileInfo\"\n  BEGIN\n    VALUE \"Translation\", 0x%x, %u\n  END\nEND\n",
                v.language, v.codePage);
  return s + buf;
}

VersionInfo FullInfo() {
  VersionInfo v;
  v.fileVersion = {1, 2, 300, 65535};
  v.productVersion = {4, 5, 6, 258};
  v.companyName = "Société Générale d'Édition";
  v.fileDescription = "Viewer of \"documents\" — 東京 🚀 😀";
  v.fileVersionText = "1.2.300.65535";
  v.internalName = "viewer";
  v.legalCopyright = "© 2024 Ωmega";
  v.originalFilename = "C:\\Tools\\Viewer.exe";
  v.productName = "𝄞";
  v.productVersionText = "4.5\tbeta";
  return v;
}

struct VersionCase {
  const char* name;
  VersionInfo info;
};

std::vector<VersionCase> VersionCases() {
  VersionInfo some = FullInfo();
  some.fileDescription.clear();
  some.internalName.clear();
  some.productVersionText.clear();
  VersionInfo none;
  none.fileVersion = {0, 0, 0, 1};
  // Values of one to five characters: with the NUL, every padding the format can need.
  VersionInfo odd;
  odd.companyName = "A";
  odd.fileDescription = "Ab";
  odd.fileVersionText = "Abc";
  odd.internalName = "Abcd";
  odd.legalCopyright = "é";
  odd.originalFilename = "😀";
  odd.productName = "x😀";
  odd.productVersionText = "12345";
  VersionInfo german = FullInfo();
  german.language = 0x0407;
  german.codePage = 1252;
  VersionInfo longest;  // the longest text that still fits the format's 16-bit lengths
  longest.companyName = std::string(32639, 'w');
  return {{"AllStringsNonAscii", FullInfo()}, {"EmptyStringsLeftOut", some}, {"NoStrings", none},
          {"OddLengths", odd}, {"OtherLanguage", german}, {"LongestText", longest}};
}

class VersionOracleTest : public testing::TestWithParam<VersionCase> {};

TEST_P(VersionOracleTest, MatchesWindresAndReadsBack) {
  const VersionInfo& info = GetParam().info;
  Bytes encoded;
  const Error e = EncodeVersionInfo(info, encoded);
  ASSERT_FALSE(e) << *e;
  const auto res = Windres(ScratchDir(), VersionScript(info));
  ASSERT_TRUE(res.count("16/1"));
  EXPECT_TRUE(SameBytes(res.at("16/1"), encoded));
  for (const Bytes& data : {res.at("16/1"), encoded}) {
    VersionInfo decoded;
    const Error de = DecodeVersionInfo(data, decoded);
    ASSERT_FALSE(de) << *de;
    EXPECT_EQ(decoded, info);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, VersionOracleTest, testing::ValuesIn(VersionCases()), kByName);

struct BadVersionCase {
  const char* name;
  std::function<void(VersionInfo&)> change;
  const char* says;  // a word the error must hold
};

class BadVersionTest : public testing::TestWithParam<BadVersionCase> {};

TEST_P(BadVersionTest, IsRefusedAndOutputKept) {
  VersionInfo info = FullInfo();
  GetParam().change(info);
  Bytes out{1, 2, 3};
  const Error e = EncodeVersionInfo(info, out);
  ASSERT_TRUE(e);
  EXPECT_NE(e->find(GetParam().says), std::string::npos) << *e;
  EXPECT_EQ(out, (Bytes{1, 2, 3}));
}

auto Description(std::string text) {
  return [text](VersionInfo& v) { v.fileDescription = text; };
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BadVersionTest,
    testing::Values(BadVersionCase{"CutSequence", Description("abc\xC3"), "FileDescription is not valid UTF-8"},
                    BadVersionCase{"LoneContinuation", Description("a\x80z"), "FileDescription is not valid UTF-8"},
                    BadVersionCase{"OverlongSlash", Description("\xC0\xAF"), "FileDescription is not valid UTF-8"},
                    BadVersionCase{"OverlongThreeBytes", Description("\xE0\x80\xAF"), "FileDescription is not valid UTF-8"},
                    BadVersionCase{"Surrogate", Description("\xED\xA0\x80"), "FileDescription is not valid UTF-8"},
                    BadVersionCase{"PastUnicode", Description("\xF4\x90\x80\x80"), "FileDescription is not valid UTF-8"},
                    BadVersionCase{"Latin1", Description("caf\xE9"), "FileDescription is not valid UTF-8"},
                    BadVersionCase{"EmbeddedNul", Description(std::string("ab\0cd", 5)), "NUL"},
                    // One character more than the LongestText case.
                    BadVersionCase{"OnePastTheLongestText",
                                   [](VersionInfo& v) { v = {}; v.companyName = std::string(32640, 'w'); }, "65535"},
                    BadVersionCase{"TextsTooLongTogether",
                                   [](VersionInfo& v) {
                                     v = {};
                                     v.companyName = std::string(20000, 'a');
                                     v.productName = std::string(20000, 'b');
                                   },
                                   "65535"}),
    kByName);

TEST(VersionInfoTest, DecodeRefusesCutDamagedAndOtherDataAndKeepsOutput) {
  Bytes encoded;
  ASSERT_FALSE(EncodeVersionInfo(FullInfo(), encoded));
  for (size_t n = 0; n < encoded.size(); ++n) {
    VersionInfo out;
    out.companyName = "kept";
    EXPECT_TRUE(DecodeVersionInfo(std::span(encoded).first(n), out)) << "accepted the first " << n << " bytes";
    EXPECT_EQ(out.companyName, "kept");
  }
  // Any damaged byte gives an error or a reading, never a crash or an empty error.
  for (size_t i = 0; i < encoded.size(); ++i) {
    for (uint8_t value : {uint8_t{0x00}, uint8_t{0x01}, uint8_t{0xFF}}) {
      Bytes damaged = encoded;
      damaged[i] = value;
      VersionInfo out;
      if (const Error e = DecodeVersionInfo(damaged, out)) {
        EXPECT_FALSE(e->empty());
      }
    }
  }
  VersionInfo out;
  EXPECT_TRUE(DecodeVersionInfo(FromText(EncodeManifest({})), out));
  Put32(encoded, 40, 0x12345678);  // the fixed information's signature
  EXPECT_TRUE(DecodeVersionInfo(encoded, out));
}

// --- Icons ---

struct IconCase {
  std::string name;
  // Written into every entry of mixed.ico's directory.
  std::optional<uint16_t> planes = std::nullopt, bitCount = std::nullopt;
  std::optional<uint8_t> colors = std::nullopt, reserved = std::nullopt;
};

Bytes MixedIco() { return ReadFile(kImages / "mixed.ico"); }

Bytes Patched(const IconCase& p) {
  Bytes ico = MixedIco();
  for (uint16_t i = 0; i < Le16(ico, 4); ++i) {
    const size_t entry = 6 + 16 * size_t{i};
    if (p.colors) ico[entry + 2] = *p.colors;
    if (p.reserved) ico[entry + 3] = *p.reserved;
    if (p.planes) Put16(ico, entry + 4, *p.planes);
    if (p.bitCount) Put16(ico, entry + 6, *p.bitCount);
  }
  return ico;
}

std::vector<IconCase> IconCases() {
  std::vector<IconCase> cases = {{"PngAndBitmaps"},
                                 {"TwoPlanesNoBits", 2, 0, 16},
                                 {"NoPlanesFourBits", 0, 4, 0},
                                 {"OddPlanesAndBits", 3, 24, 7},
                                 {"ReservedByteSet", {}, {}, {}, 5}};
  // Icon writers that leave planes and bits 0: windres derives bits from the colours.
  for (int colors : {0, 1, 2, 16, 17, 255}) {
    cases.push_back({"NoBits" + std::to_string(colors) + "Colours", 0, 0, static_cast<uint8_t>(colors)});
  }
  return cases;
}

class IconOracleTest : public testing::TestWithParam<IconCase> {};

// The second icon of a script takes the ids after the first's images.
TEST_P(IconOracleTest, MatchesWindresAsTheSecondIcon) {
  const Bytes first = ReadFile(kSourceDir / "resources" / "corvane.ico"), ico = Patched(GetParam());
  const fs::path dir = ScratchDir();
  WriteFile(dir / "first.ico", first);
  WriteFile(dir / "app.ico", ico);
  const auto res = Windres(dir, "1 ICON \"first.ico\"\n2 ICON \"app.ico\"\n");

  IconResources icons[2];
  ASSERT_FALSE(EncodeIconFile(first, 1, icons[0]));
  const Error e = EncodeIconFile(ico, static_cast<uint16_t>(1 + icons[0].images.size()), icons[1]);
  ASSERT_FALSE(e) << *e;
  size_t id = 1;
  for (int group = 1; group <= 2; ++group) {
    ASSERT_TRUE(res.count("14/" + std::to_string(group)));
    EXPECT_TRUE(SameBytes(res.at("14/" + std::to_string(group)), icons[group - 1].group)) << "group " << group;
    for (const Bytes& image : icons[group - 1].images) {
      const std::string key = "3/" + std::to_string(id++);
      ASSERT_TRUE(res.count(key)) << "no icon " << key;
      EXPECT_TRUE(SameBytes(res.at(key), image)) << "icon " << key;
    }
  }
  EXPECT_EQ(res.size(), 2 + id - 1) << "groups and images";
}

INSTANTIATE_TEST_SUITE_P(Files, IconOracleTest, testing::ValuesIn(IconCases()), kByName);

struct BadIconCase {
  const char* name;
  std::function<void(Bytes&)> damage;
  uint16_t firstId = 1;
};

class BadIconTest : public testing::TestWithParam<BadIconCase> {};

TEST_P(BadIconTest, IsRefusedAndOutputKept) {
  Bytes ico = MixedIco();
  GetParam().damage(ico);
  IconResources out;
  out.group = {7};
  const Error e = EncodeIconFile(ico, GetParam().firstId, out);
  ASSERT_TRUE(e);
  EXPECT_FALSE(e->empty());
  EXPECT_EQ(out.group, Bytes{7});
  EXPECT_TRUE(out.images.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadIconTest,
    testing::Values(
        BadIconCase{"Empty", [](Bytes& b) { b.clear(); }},
        BadIconCase{"CutInDirectory", [](Bytes& b) { b = {0, 0, 1, 0, 1}; }},
        BadIconCase{"CountZero", [](Bytes& b) { b = {0, 0, 1, 0, 0, 0}; }},
        BadIconCase{"Cursor", [](Bytes& b) { Put16(b, 2, 2); }},
        BadIconCase{"ReservedWordSet", [](Bytes& b) { Put16(b, 0, 1); }},
        BadIconCase{"CountPastDirectory", [](Bytes& b) { b.resize(6 + 16 * 3); }},
        BadIconCase{"CountLargerThanFile", [](Bytes& b) { Put16(b, 4, 1000); }},
        BadIconCase{"OffsetPastFile", [](Bytes& b) { Put32(b, 6 + 12, 100000); }},
        BadIconCase{"SizePastFile", [](Bytes& b) { Put32(b, 6 + 8, 7000); }},
        BadIconCase{"OffsetAndSizeWrap", [](Bytes& b) { Put32(b, 6 + 8, 0x20); Put32(b, 6 + 12, 0xFFFFFFF0u); }},
        BadIconCase{"SizeZero", [](Bytes& b) { Put32(b, 6 + 16 + 8, 0); }},
        BadIconCase{"ImageNeitherPngNorBitmap",
                    [](Bytes& b) { std::fill_n(b.begin() + Le32(b, 6 + 16 + 12), 8, 'x'); }},
        BadIconCase{"IdZero", [](Bytes&) {}, 0},
        // The five images would take ids 65532 to 65536, one past the largest.
        BadIconCase{"LastIdOnePastLargest", [](Bytes&) {}, 65532}),
    kByName);

// --- Bitmaps ---

// A BMP file built from its parts, with every offset and size right unless a case changes them.
struct BmpParts {
  uint32_t headerSize = 40;
  int32_t width = 5, height = 3;
  uint16_t bitCount = 8;
  uint32_t compression = 0;
  uint32_t colorsUsed = 0;
  uint32_t tableEntries = 256;  // written colour table entries
  bool masks = false;           // three DWORD masks after a 40-byte header
  Bytes rle = {};               // compressed pixels; empty for uncompressed
  size_t gap = 0;               // bytes between the colour table and the pixels
};

Bytes MakeBmp(const BmpParts& s) {
  Bytes info;
  Append32(info, s.headerSize);
  if (s.headerSize == 12) {
    Append16(info, static_cast<uint16_t>(s.width));
    Append16(info, static_cast<uint16_t>(s.height));
    Append16(info, 1);
    Append16(info, s.bitCount);
  } else {
    for (uint32_t v : {uint32_t(s.width), uint32_t(s.height), 1u | uint32_t{s.bitCount} << 16, s.compression,
                       uint32_t(s.rle.size()), 2835u, 2835u, s.colorsUsed, 0u}) {
      Append32(info, v);
    }
    info.resize(s.headerSize, 0);
    if (s.headerSize >= 52) {  // masks of a 16-bit 5-6-5 or a 32-bit image
      Put32(info, 40, s.bitCount == 16 ? 0xF800 : 0xFF0000);
      Put32(info, 44, s.bitCount == 16 ? 0x07E0 : 0xFF00);
      Put32(info, 48, s.bitCount == 16 ? 0x001F : 0xFF);
    }
  }
  if (s.masks) {
    for (uint32_t mask : {0xF800u, 0x07E0u, 0x001Fu}) Append32(info, mask);
  }
  for (uint32_t i = 0; i < s.tableEntries * (s.headerSize == 12 ? 3 : 4); ++i) {
    info.push_back(static_cast<uint8_t>(i * 7));
  }
  info.insert(info.end(), s.gap, 0xEE);
  Bytes pixels = s.rle;
  if (pixels.empty()) {
    const size_t stride = (size_t(s.width) * s.bitCount + 31) / 32 * 4;
    pixels.resize(stride * size_t(s.height < 0 ? -s.height : s.height));
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 13 + 1);
  }
  Bytes file{'B', 'M'};
  Append32(file, static_cast<uint32_t>(14 + info.size() + pixels.size()));
  Append32(file, 0);
  Append32(file, static_cast<uint32_t>(14 + info.size()));
  file.insert(file.end(), info.begin(), info.end());
  file.insert(file.end(), pixels.begin(), pixels.end());
  return file;
}

// Two rows of five 4-bit pixels, run-length coded, then end of bitmap.
const Bytes kRle4 = {5, 0x12, 0, 0, 3, 0x34, 2, 0x56, 0, 1};
// Two rows of five 8-bit pixels: a run, an absolute run of three (padded to a word), end of bitmap.
const Bytes kRle8 = {5, 9, 0, 0, 2, 7, 0, 3, 1, 2, 3, 0, 0, 1};

struct BitmapCase {
  const char* name;
  std::function<Bytes()> make;
};

class BitmapOracleTest : public testing::TestWithParam<BitmapCase> {};

TEST_P(BitmapOracleTest, MatchesWindres) {
  const Bytes bmp = GetParam().make();
  const fs::path dir = ScratchDir();
  WriteFile(dir / "image.bmp", bmp);
  const auto res = Windres(dir, "1 BITMAP \"image.bmp\"\n");
  ASSERT_TRUE(res.count("2/1"));
  Bytes dib;
  const Error e = EncodeBitmapFile(bmp, dib);
  ASSERT_FALSE(e) << *e;
  EXPECT_TRUE(SameBytes(res.at("2/1"), dib));
}

INSTANTIATE_TEST_SUITE_P(
    Files, BitmapOracleTest,
    testing::Values(
        BitmapCase{"TrueColour24Bit", [] { return ReadFile(kImages / "opaque.bmp"); }},
        BitmapCase{"Alpha32BitV5", [] { return ReadFile(kImages / "alpha.bmp"); }},
        BitmapCase{"Core1Bit", [] { return MakeBmp({.headerSize = 12, .width = 9, .height = 2, .bitCount = 1, .tableEntries = 2}); }},
        BitmapCase{"Rle4", [] { return MakeBmp({.bitCount = 4, .compression = 2, .tableEntries = 16, .rle = kRle4}); }},
        BitmapCase{"Rle8ShortTable", [] { return MakeBmp({.compression = 1, .colorsUsed = 10, .tableEntries = 10, .rle = kRle8}); }},
        BitmapCase{"Masks16Bit", [] { return MakeBmp({.bitCount = 16, .compression = 3, .tableEntries = 0, .masks = true}); }},
        BitmapCase{"V4Masks32Bit", [] { return MakeBmp({.headerSize = 108, .bitCount = 32, .compression = 3, .tableEntries = 0}); }},
        BitmapCase{"TopDown24Bit", [] { return MakeBmp({.width = 7, .height = -4, .bitCount = 24, .tableEntries = 0}); }},
        BitmapCase{"Plain32Bit", [] { return MakeBmp({.width = 3, .bitCount = 32, .tableEntries = 0}); }}),
    kByName);

TEST(BitmapTest, BytesBeforeThePixelsAreDropped) {
  // A packed DIB has no pixel offset: Windows takes the pixels right after the colour table.
  const Bytes without = MakeBmp({.width = 3, .bitCount = 24, .tableEntries = 0});
  Bytes dib;
  ASSERT_FALSE(EncodeBitmapFile(MakeBmp({.width = 3, .bitCount = 24, .tableEntries = 0, .gap = 6}), dib));
  EXPECT_EQ(dib, Bytes(without.begin() + 14, without.end()));
}

// A V5 BMP with bytes between its table and pixels and an embedded colour profile at
// `profileAt` (from the start of the info header), the profile's bytes appended to the file.
Bytes BmpWithProfile(std::optional<uint32_t> profileAt, const Bytes& profile) {
  Bytes b = MakeBmp({.headerSize = 124, .width = 3, .bitCount = 24, .tableEntries = 0, .gap = 8});
  Put32(b, 14 + 56, 0x4D424544);  // PROFILE_EMBEDDED
  Put32(b, 14 + 112, profileAt.value_or(static_cast<uint32_t>(b.size() - 14)));
  Put32(b, 14 + 116, static_cast<uint32_t>(profile.size()));
  b.insert(b.end(), profile.begin(), profile.end());
  Put32(b, 2, static_cast<uint32_t>(b.size()));
  return b;
}

TEST(BitmapTest, AProfileAfterThePixelsMovesWithThem) {
  const Bytes profile = FromText("profile-bytes-16");
  const Bytes bmp = BmpWithProfile(std::nullopt, profile);
  Bytes dib;
  const Error e = EncodeBitmapFile(bmp, dib);
  ASSERT_FALSE(e) << *e;
  EXPECT_EQ(dib.size(), bmp.size() - 14 - 8);
  const uint32_t at = Le32(dib, 112);
  EXPECT_EQ(at, Le32(bmp, 14 + 112) - 8);
  ASSERT_LE(size_t{at} + profile.size(), dib.size());
  EXPECT_EQ(Bytes(dib.begin() + at, dib.begin() + at + 16), profile);
}

struct PngCase {
  const char* name;  // the PNG file
  const char* bmp;   // the same pixels
  uint16_t bitCount;
};

class PngTest : public testing::TestWithParam<PngCase> {};

TEST_P(PngTest, DecodesToTheBitmapsPixelsBottomUp) {
  const PngCase& c = GetParam();
  const Bytes bmp = ReadFile(kImages / c.bmp);
  ASSERT_GE(bmp.size(), 54u);
  const uint32_t width = Le32(bmp, 18), height = Le32(bmp, 22);
  ASSERT_EQ(Le16(bmp, 28), c.bitCount) << c.bmp << " is not a " << c.bitCount << "-bit file";
  ASSERT_GT(static_cast<int32_t>(height), 0) << "the fixture must be bottom-up";
  const size_t stride = (size_t{width} * c.bitCount + 31) / 32 * 4;
  const Bytes expectedPixels(bmp.begin() + Le32(bmp, 10),
                             bmp.begin() + Le32(bmp, 10) + static_cast<ptrdiff_t>(stride * height));

  Bytes dib;
  const Error e = EncodeBitmapFile(ReadFile(kImages / c.name), dib);
  ASSERT_FALSE(e) << *e;
  ASSERT_GE(dib.size(), 40u);
  // BITMAPINFOHEADER: size, width, height (positive: bottom-up), planes, bits, BI_RGB, image size
  // and no colour table; the pixels follow it.
  EXPECT_EQ((std::vector<uint32_t>{Le32(dib, 0), Le32(dib, 4), Le32(dib, 8), Le16(dib, 12), Le16(dib, 14),
                                   Le32(dib, 16), Le32(dib, 20), Le32(dib, 32)}),
            (std::vector<uint32_t>{40, width, height, 1, c.bitCount, 0, uint32_t(stride * height), 0}));
  EXPECT_TRUE(SameBytes(expectedPixels, Bytes(dib.begin() + 40, dib.end())));
}

INSTANTIATE_TEST_SUITE_P(
    Files, PngTest,
    testing::Values(PngCase{"opaque.png", "opaque.bmp", 24}, PngCase{"opaque-rgb-interlaced.png", "opaque.bmp", 24},
                    PngCase{"alpha.png", "alpha.bmp", 32}, PngCase{"alpha-rgba.png", "alpha.bmp", 32},
                    PngCase{"alpha-rgba16.png", "alpha.bmp", 32}),
    kByName);

uint32_t Crc32(std::span<const uint8_t> data) {
  uint32_t c = 0xFFFFFFFFu;
  for (uint8_t b : data) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return ~c;
}

void SetBe32(Bytes& d, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) d[at + k] = static_cast<uint8_t>(v >> (24 - 8 * k));
}

Bytes InterlacedPng() { return ReadFile(kImages / "opaque-rgb-interlaced.png"); }

size_t FindChunk(const Bytes& png, const char* type) {
  for (size_t at = 8; at + 12 <= png.size(); at += 12 + Be32(png, at)) {
    if (std::equal(type, type + 4, png.begin() + static_cast<ptrdiff_t>(at + 4))) return at;
  }
  ADD_FAILURE() << "no " << type << " chunk";
  return 8;
}

// The interlaced PNG with its chunk `type` changed by `edit` and its checksum made right again.
Bytes EditChunk(const char* type, const std::function<void(Bytes&, size_t)>& edit) {
  Bytes png = InterlacedPng();
  const size_t at = FindChunk(png, type);
  edit(png, at);
  const uint32_t length = Be32(png, at);
  SetBe32(png, at + 8 + length, Crc32(std::span(png).subspan(at + 4, 4 + length)));
  return png;
}

// An IHDR of these dimensions in place of the fixture's.
Bytes PngOfSize(uint32_t width, uint32_t height) {
  return EditChunk("IHDR", [=](Bytes& png, size_t at) {
    SetBe32(png, at + 8, width);
    SetBe32(png, at + 12, height);
  });
}

struct BadBitmapCase {
  const char* name;
  std::function<Bytes()> make;
  const char* says;  // a word the error must hold
};

class BadBitmapTest : public testing::TestWithParam<BadBitmapCase> {};

TEST_P(BadBitmapTest, IsRefusedAndOutputKept) {
  Bytes dib{7};
  const Error e = EncodeBitmapFile(GetParam().make(), dib);
  ASSERT_TRUE(e);
  EXPECT_NE(e->find(GetParam().says), std::string::npos) << *e;
  EXPECT_EQ(dib, Bytes{7});
}

// The default 8-bit BMP, or the given one, with a 32-bit field (or a 16-bit one) changed.
Bytes Bmp8With(size_t at, uint32_t v, Bytes b = MakeBmp({})) { Put32(b, at, v); return b; }
Bytes Bmp8With16(size_t at, uint16_t v) { Bytes b = MakeBmp({}); Put16(b, at, v); return b; }
Bytes Cut(Bytes b, size_t size) { b.resize(size); return b; }
Bytes CutPng(size_t size) { return Cut(ReadFile(kImages / "opaque.png"), size); }

INSTANTIATE_TEST_SUITE_P(
    Files, BadBitmapTest,
    testing::Values(
        BadBitmapCase{"Empty", [] { return Bytes{}; }, "neither"},
        BadBitmapCase{"Gif", [] { return FromText("GIF89a\x01\x00\x01\x00"); }, "neither"},
        BadBitmapCase{"Text", [] { return FromText("not an image at all"); }, "neither"},
        BadBitmapCase{"BmpTooShort", [] { return FromText("BM\x10\x00"); }, "short"},
        BadBitmapCase{"BmpFileSizeLies", [] { return Bmp8With(2, 1u << 20); }, "cut short"},
        BadBitmapCase{"BmpHeaderSizeUnknown", [] { return Bmp8With(14, 41); }, "41"},
        BadBitmapCase{"BmpHeaderSizePastFile", [] { return Bmp8With(14, 124); }, "colour table"},
        BadBitmapCase{"BmpHeaderCut", [] { return Bmp8With(2, 30, Cut(MakeBmp({}), 30)); }, "info header"},
        BadBitmapCase{"BmpBitsOffsetInHeader", [] { return Bmp8With(10, 20); }, "points into"},
        BadBitmapCase{"BmpBitsOffsetInTable", [] { return Bmp8With(10, 54 + 1020); }, "points into"},
        BadBitmapCase{"BmpBitsOffsetPastFile", [] { return Bmp8With(10, 1u << 30); }, "past the end"},
        BadBitmapCase{"BmpPixelsCut", [] { const Bytes b = MakeBmp({}); return Bmp8With(2, 0, Cut(b, b.size() - 5)); }, "cut short"},
        BadBitmapCase{"BmpTableCut", [] { return Bmp8With(2, 0, Cut(MakeBmp({}), 400)); }, "colour table"},
        BadBitmapCase{"BmpNoPlanes", [] { return Bmp8With16(26, 0); }, "plane"},
        BadBitmapCase{"BmpSevenBits", [] { return Bmp8With16(28, 7); }, "7 bits"},
        BadBitmapCase{"BmpWidthZero", [] { return Bmp8With(18, 0); }, "0 x 3"},
        BadBitmapCase{"BmpWidthNegative", [] { return Bmp8With(18, 0xFFFFFFFBu); }, "-5 x 3"},
        BadBitmapCase{"BmpHeightZero", [] { return Bmp8With(22, 0); }, "5 x 0"},
        BadBitmapCase{"BmpHeightMostNegative", [] { return Bmp8With(22, 0x80000000u); }, "pixels"},
        BadBitmapCase{"BmpTooWide", [] { return Bmp8With(18, 20000); }, "16384"},
        BadBitmapCase{"BmpHugeWithinSides",
                      [] { return Bmp8With(22, 16000, Bmp8With(18, 16000, MakeBmp({.width = 1, .height = 1, .bitCount = 32, .tableEntries = 0}))); },
                      "MiB"},
        BadBitmapCase{"BmpTooManyColours", [] { return Bmp8With(46, 300); }, "300"},
        BadBitmapCase{"BmpColourCountPastFile",
                      [] { return MakeBmp({.bitCount = 24, .colorsUsed = 0xFFFFFFFFu, .tableEntries = 0}); }, "colour table"},
        BadBitmapCase{"BmpRleOfWrongDepth", [] { return Bmp8With(30, 2); }, "run-length"},
        BadBitmapCase{"BmpRleTopDown", [] { return MakeBmp({.height = -2, .compression = 1, .rle = kRle8}); }, "top-down"},
        BadBitmapCase{"BmpRleWithoutSize", [] { return Bmp8With(34, 0, MakeBmp({.compression = 1, .rle = kRle8})); }, "size"},
        BadBitmapCase{"BmpRleSizePastFile", [] { return Bmp8With(34, 5000, MakeBmp({.compression = 1, .rle = kRle8})); }, "cut short"},
        BadBitmapCase{"BmpMasksOfWrongDepth", [] { return Bmp8With(30, 3); }, "masks"},
        BadBitmapCase{"BmpHoldsPng", [] { return Bmp8With(30, 5); }, "PNG"},
        BadBitmapCase{"BmpUnknownCompression", [] { return Bmp8With(30, 9); }, "compression 9"},
        BadBitmapCase{"CoreThirtyTwoBits", [] { return MakeBmp({.headerSize = 12, .bitCount = 32, .tableEntries = 0}); }, "32 bits"},
        // A profile where the bytes between the table and the pixels lie, which are dropped.
        BadBitmapCase{"ProfileBeforeThePixels", [] { return BmpWithProfile(124, FromText("p")); }, "profile"},
        BadBitmapCase{"PngSignatureOnly", [] { return CutPng(8); }, "cut short"},
        BadBitmapCase{"PngCutInHalf", [] { return CutPng(ReadFile(kImages / "opaque.png").size() / 2); }, "cut short"},
        BadBitmapCase{"PngWithoutEnd", [] { return CutPng(ReadFile(kImages / "opaque.png").size() - 12); }, "cut short"},
        BadBitmapCase{"PngDamagedByte", [] { Bytes p = InterlacedPng(); p[FindChunk(p, "IDAT") + 20] ^= 0x40; return p; }, "checksum"},
        BadBitmapCase{"PngDamagedDataWithRightChecksum",
                      [] { return EditChunk("IDAT", [](Bytes& p, size_t at) { std::fill_n(p.begin() + at + 8, 32, 0xFF); }); },
                      "cannot be decoded"},
        BadBitmapCase{"PngChunkLengthHuge",
                      [] { Bytes p = ReadFile(kImages / "opaque.png"); SetBe32(p, FindChunk(p, "IDAT"), 0x80000000u); return p; },
                      "damaged"},
        BadBitmapCase{"PngDataBeforeHeader",
                      [] { return EditChunk("IHDR", [](Bytes& p, size_t at) { std::copy_n("IDAT", 4, p.begin() + at + 4); }); },
                      "header"},
        BadBitmapCase{"PngTooWide", [] { return PngOfSize(20000, 7); }, "16384"},
        BadBitmapCase{"PngTooManyPixels", [] { return PngOfSize(16000, 16000); }, "MiB"},
        BadBitmapCase{"PngNoPixels", [] { return PngOfSize(0, 7); }, "no pixels"}),
    kByName);

// Any file cut anywhere is refused: each of these ends with data that something before it needs.
class CutFileTest : public testing::TestWithParam<std::string> {};

TEST_P(CutFileTest, EveryCutIsRefused) {
  const fs::path path = GetParam();
  const Bytes file = ReadFile(path);
  ASSERT_FALSE(file.empty());
  for (size_t n = 0; n < file.size(); ++n) {
    const auto cut = std::span(file).first(n);
    IconResources icon;
    Bytes dib;
    const Error e = path.extension() == ".ico" ? EncodeIconFile(cut, 1, icon) : EncodeBitmapFile(cut, dib);
    ASSERT_TRUE(e) << "accepted " << path.filename() << " cut to " << n << " bytes";
  }
}

INSTANTIATE_TEST_SUITE_P(Files, CutFileTest,
                         testing::Values((kSourceDir / "resources" / "splash.bmp").string(),
                                         (kSourceDir / "resources" / "corvane.ico").string(), (kImages / "mixed.ico").string(),
                                         (kImages / "opaque.bmp").string(), (kImages / "alpha.bmp").string(),
                                         (kImages / "opaque.png").string(), (kImages / "alpha-rgba16.png").string()),
                         [](const auto& info) { return NameOf(fs::path(info.param).filename().string()); });

// --- Manifest ---

// A strict reader of the XML a manifest uses, to prove it well-formed: the declaration first, one
// root, matched tags, quoted and unique attributes, no '<' and only the named references in text.
struct XmlElement {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::string text;
  std::vector<XmlElement> children;

  const XmlElement* Child(const std::string& n) const {
    for (const XmlElement& c : children) {
      if (c.name == n) return &c;
    }
    return nullptr;
  }
};

std::optional<XmlElement> ReadXml(const std::string& s, std::string& error) {
  static const std::regex tag(R"re(<(/?)([A-Za-z_][\w:.-]*)((?:\s+[A-Za-z_][\w:.-]*="[^"<&]*")*)\s*(/?)>)re");
  static const std::regex attribute(R"re(([\w:.-]+)="([^"]*)")re");
  static const std::regex text(R"re(([^<&]|&(lt|gt|amp|quot|apos);)*)re");
  auto fail = [&](const std::string& what, size_t at) {
    error = what + " at " + std::to_string(at);
    return std::nullopt;
  };
  if (s.rfind("<?xml ", 0) != 0 || s.find("?>") == std::string::npos) return fail("no XML declaration", 0);
  std::vector<XmlElement> open;
  std::optional<XmlElement> root;
  for (size_t at = s.find("?>") + 2;;) {
    const size_t lt = std::min(s.find('<', at), s.size());
    const std::string between = s.substr(at, lt - at);
    if (!std::regex_match(between, text)) return fail("bad text", at);
    if (open.empty() && between.find_first_not_of(" \t\r\n") != std::string::npos) return fail("text outside the root", at);
    if (!open.empty()) open.back().text += between;
    if (lt == s.size()) break;
    std::smatch m;
    if (!std::regex_search(s.begin() + static_cast<ptrdiff_t>(lt), s.end(), m, tag, std::regex_constants::match_continuous)) {
      return fail("malformed tag", lt);
    }
    at = lt + static_cast<size_t>(m.length(0));
    const bool endTag = m.length(1) != 0;
    if (!endTag) {
      if (root) return fail("a second root element", lt);
      XmlElement e{m.str(2), {}, {}, {}};
      const std::string attributes = m.str(3);
      for (std::sregex_iterator i(attributes.begin(), attributes.end(), attribute), end; i != end; ++i) {
        if (!e.attributes.emplace((*i)[1], (*i)[2]).second) return fail("repeated attribute " + (*i)[1].str(), lt);
      }
      open.push_back(std::move(e));
    } else if (open.empty() || open.back().name != m.str(2) || m.length(3) != 0 || m.length(4) != 0) {
      return fail("end tag matching nothing", lt);
    }
    if (endTag || m.length(4) != 0) {
      XmlElement done = std::move(open.back());
      open.pop_back();
      if (open.empty()) root = std::move(done);
      else open.back().children.push_back(std::move(done));
    }
  }
  if (!open.empty() || !root) return fail("no complete root element", s.size());
  return root;
}

TEST(XmlReaderTest, RefusesMalformedText) {
  std::string error;
  ASSERT_TRUE(ReadXml("<?xml version=\"1.0\"?>\n<a x=\"1\"><b/>t &amp; u</a>\n", error)) << error;
  for (const char* bad : {"<a/>", "<?xml version=\"1.0\"?><a>", "<?xml version=\"1.0\"?><a></b>",
                          "<?xml version=\"1.0\"?><a x=1/>", "<?xml version=\"1.0\"?><a x=\"1\" x=\"2\"/>",
                          "<?xml version=\"1.0\"?><a/><b/>", "<?xml version=\"1.0\"?><a>&nbsp;</a>",
                          "<?xml version=\"1.0\"?><a x=\"1\"y=\"2\"/>", "<?xml version=\"1.0\"?>t<a/>"}) {
    EXPECT_FALSE(ReadXml(bad, error)) << bad;
  }
}

const char* kAsmV3 = "urn:schemas-microsoft-com:asm.v3";
const char* kWs2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings";
const char* kWs2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings";
const char* kWs2019 = "http://schemas.microsoft.com/SMI/2019/WindowsSettings";

TEST(ManifestTest, EveryCombinationIsWellFormedWithTheAskedSettings) {
  using Attributes = std::map<std::string, std::string>;
  for (auto level : {ExecutionLevel::AsInvoker, ExecutionLevel::HighestAvailable, ExecutionLevel::RequireAdministrator}) {
    for (auto dpi : {DpiAwareness::Unaware, DpiAwareness::System, DpiAwareness::PerMonitor, DpiAwareness::PerMonitorV2}) {
      for (int flags = 0; flags < 4; ++flags) {
        const ManifestOptions o{level, dpi, (flags & 1) != 0, (flags & 2) != 0};
        const std::string text = EncodeManifest(o);
        SCOPED_TRACE(text);
        std::string error;
        const auto root = ReadXml(text, error);
        ASSERT_TRUE(root) << error;
        EXPECT_EQ(root->name, "assembly");
        EXPECT_EQ(root->attributes, (Attributes{{"xmlns", "urn:schemas-microsoft-com:asm.v1"}, {"manifestVersion", "1.0"}}));
        const XmlElement* dependency = root->Child("dependency");
        ASSERT_TRUE(dependency && dependency->Child("dependentAssembly"));
        const XmlElement* identity = dependency->Child("dependentAssembly")->Child("assemblyIdentity");
        ASSERT_TRUE(identity);
        EXPECT_EQ(identity->attributes, (Attributes{{"type", "win32"}, {"name", "Microsoft.Windows.Common-Controls"},
                                                    {"version", "6.0.0.0"}, {"processorArchitecture", "*"},
                                                    {"publicKeyToken", "6595b64144ccf1df"}, {"language", "*"}}));
        const XmlElement* trust = root->Child("trustInfo");
        ASSERT_TRUE(trust);
        EXPECT_EQ(trust->attributes.at("xmlns"), kAsmV3);
        const XmlElement* security = trust->Child("security");
        ASSERT_TRUE(security && security->Child("requestedPrivileges"));
        const XmlElement* requested = security->Child("requestedPrivileges")->Child("requestedExecutionLevel");
        ASSERT_TRUE(requested);
        const char* levelName = level == ExecutionLevel::AsInvoker          ? "asInvoker"
                                : level == ExecutionLevel::HighestAvailable ? "highestAvailable"
                                                                            : "requireAdministrator";
        EXPECT_EQ(requested->attributes, (Attributes{{"level", levelName}, {"uiAccess", "false"}}));

        // name -> (namespace, value) of each setting the options ask for.
        std::map<std::string, std::pair<std::string, std::string>> expected, found;
        if (dpi == DpiAwareness::System) expected["dpiAware"] = {kWs2005, "true"};
        if (dpi == DpiAwareness::PerMonitor || dpi == DpiAwareness::PerMonitorV2) {
          expected["dpiAware"] = {kWs2005, "true/pm"};
          expected["dpiAwareness"] = {kWs2016, dpi == DpiAwareness::PerMonitor ? "PerMonitor" : "PerMonitorV2, PerMonitor"};
        }
        if (o.longPathAware) expected["longPathAware"] = {kWs2016, "true"};
        if (o.utf8CodePage) expected["activeCodePage"] = {kWs2019, "UTF-8"};
        const XmlElement* application = root->Child("application");
        ASSERT_EQ(application != nullptr, !expected.empty());
        if (!application) continue;
        EXPECT_EQ(application->attributes.at("xmlns"), kAsmV3);
        const XmlElement* settings = application->Child("windowsSettings");
        ASSERT_TRUE(settings);
        for (const XmlElement& s : settings->children) {
          EXPECT_TRUE(s.children.empty());
          EXPECT_EQ(s.attributes.size(), 1u);
          found[s.name] = {s.attributes.count("xmlns") ? s.attributes.at("xmlns") : "", s.text};
        }
        EXPECT_EQ(settings->children.size(), found.size()) << "a setting is repeated";
        EXPECT_EQ(found, expected);
      }
    }
  }
}

}  // namespace
}  // namespace corvane::builder
