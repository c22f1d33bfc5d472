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
#include <string>
#include <vector>

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

void WriteText(const fs::path& path, const std::string& text) {
  WriteFile(path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
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

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// --- windres and its .res files ---

// Compiles `script` in `dir` (where the files it names lie); nullopt (and a failure) when windres
// refuses it.
std::optional<Bytes> Windres(const fs::path& dir, const std::string& script) {
  WriteText(dir / "oracle.rc", script);
  const std::string command = "cd " + ShellQuote(dir.string()) +
                              " && x86_64-w64-mingw32-windres -c 65001 -O res oracle.rc"
                              " oracle.res 2> windres.log";
  if (std::system(command.c_str()) != 0) {
    const Bytes log = ReadFile(dir / "windres.log");
    ADD_FAILURE() << "windres failed on:\n"
                  << script << "\n"
                  << std::string(log.begin(), log.end());
    return std::nullopt;
  }
  return ReadFile(dir / "oracle.res");
}

struct ResEntry {
  uint16_t type = 0, name = 0;  // ids; named entries are not used by these scripts
  bool named = false;
  Bytes data;
};

uint16_t Get16(std::span<const uint8_t> d, size_t at) {
  return static_cast<uint16_t>(d[at] | (d[at + 1] << 8));
}
uint32_t Get32(std::span<const uint8_t> d, size_t at) {
  return Get16(d, at) | (uint32_t{Get16(d, at + 2)} << 16);
}
void Set16(Bytes& d, size_t at, uint16_t v) {
  d[at] = static_cast<uint8_t>(v);
  d[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Set32(Bytes& d, size_t at, uint32_t v) {
  Set16(d, at, static_cast<uint16_t>(v));
  Set16(d, at + 2, static_cast<uint16_t>(v >> 16));
}
void Put16(Bytes& d, uint16_t v) {
  d.push_back(static_cast<uint8_t>(v));
  d.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& d, uint32_t v) {
  Put16(d, static_cast<uint16_t>(v));
  Put16(d, static_cast<uint16_t>(v >> 16));
}

// RESOURCEHEADER: DataSize, HeaderSize, TYPE, NAME (0xFFFF + id, or a NUL-ended UTF-16 name), padding
// to a DWORD, DataVersion, MemoryFlags, LanguageId, Version, Characteristics; then the data, padded
// to a DWORD.
std::vector<ResEntry> ParseRes(const Bytes& res) {
  std::vector<ResEntry> entries;
  size_t at = 0;
  while (at < res.size()) {
    if (res.size() - at < 32) {
      ADD_FAILURE() << "the .res file ends inside a header at " << at;
      break;
    }
    const uint32_t dataSize = Get32(res, at), headerSize = Get32(res, at + 4);
    if (headerSize < 32 || headerSize > res.size() - at || dataSize > res.size() - at - headerSize) {
      ADD_FAILURE() << "a .res header at " << at << " does not fit the file";
      break;
    }
    ResEntry entry;
    size_t p = at + 8;
    auto key = [&](uint16_t& id) {
      if (Get16(res, p) == 0xFFFF) {
        id = Get16(res, p + 2);
        p += 4;
      } else {
        entry.named = true;
        while (p + 2 <= at + headerSize && Get16(res, p) != 0) p += 2;
        p += 2;
      }
    };
    key(entry.type);
    key(entry.name);
    entry.data.assign(res.begin() + static_cast<ptrdiff_t>(at + headerSize),
                      res.begin() + static_cast<ptrdiff_t>(at + headerSize + dataSize));
    if (!(dataSize == 0 && entry.type == 0)) entries.push_back(std::move(entry));  // the marker
    at = (at + headerSize + dataSize + 3) & ~size_t{3};
  }
  return entries;
}

const Bytes* FindRes(const std::vector<ResEntry>& entries, uint16_t type, uint16_t name) {
  for (const ResEntry& e : entries) {
    if (!e.named && e.type == type && e.name == name) return &e.data;
  }
  return nullptr;
}

size_t CountType(const std::vector<ResEntry>& entries, uint16_t type) {
  size_t n = 0;
  for (const ResEntry& e : entries) n += e.type == type;
  return n;
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

constexpr uint16_t kRtBitmap = 2, kRtIcon = 3, kRtGroupIcon = 14, kRtVersion = 16,
                   kRtManifest = 24;

// --- Version numbers ---

struct VersionNumberCase {
  const char* text;
  std::optional<std::array<uint16_t, 4>> parsed;  // nullopt: refused
};

void PrintTo(const VersionNumberCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

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

INSTANTIATE_TEST_SUITE_P(
    Texts, VersionNumberTest,
    testing::Values(
        VersionNumberCase{"1", std::array<uint16_t, 4>{1, 0, 0, 0}},
        VersionNumberCase{"1.2", std::array<uint16_t, 4>{1, 2, 0, 0}},
        VersionNumberCase{"1.2.3", std::array<uint16_t, 4>{1, 2, 3, 0}},
        VersionNumberCase{"1.2.3.4", std::array<uint16_t, 4>{1, 2, 3, 4}},
        VersionNumberCase{"65535.0.00300.65535", std::array<uint16_t, 4>{65535, 0, 300, 65535}},
        VersionNumberCase{"1.2.3.4.5", std::nullopt}, VersionNumberCase{"70000", std::nullopt},
        VersionNumberCase{"65536", std::nullopt}, VersionNumberCase{"a.b", std::nullopt},
        VersionNumberCase{"", std::nullopt}, VersionNumberCase{"1..2", std::nullopt},
        VersionNumberCase{".1", std::nullopt}, VersionNumberCase{"1.", std::nullopt},
        VersionNumberCase{"1.2.3.4.", std::nullopt}, VersionNumberCase{" 1", std::nullopt},
        VersionNumberCase{"1 ", std::nullopt}, VersionNumberCase{"-1", std::nullopt},
        VersionNumberCase{"+1", std::nullopt}, VersionNumberCase{"0x10", std::nullopt},
        VersionNumberCase{"1,2", std::nullopt},
        VersionNumberCase{"99999999999999999999999", std::nullopt}));

// --- Version information ---

// The string values in the order the encoder writes them (and so the script lists them).
std::vector<std::pair<const char*, std::string>> StringValues(const VersionInfo& v) {
  return {{"CompanyName", v.companyName},       {"FileDescription", v.fileDescription},
          {"FileVersion", v.fileVersionText},    {"InternalName", v.internalName},
          {"LegalCopyright", v.legalCopyright},  {"OriginalFilename", v.originalFilename},
          {"ProductName", v.productName},        {"ProductVersion", v.productVersionText}};
}

std::string RcString(const std::string& text) {
  std::string s = "\"";
  for (char c : text) {
    if (c == '"') s += "\"\"";
    else if (c == '\\') s += "\\\\";
    else if (c == '\t') s += "\\t";
    else s += c;
  }
  return s + "\"";
}

std::string VersionScript(const VersionInfo& v) {
  char buf[256];
  std::string s = "#include <winver.h>\n1 VERSIONINFO\n";
  std::snprintf(buf, sizeof buf, "FILEVERSION %u,%u,%u,%u\nPRODUCTVERSION %u,%u,%u,%u\n",
                v.fileVersion[0], v.fileVersion[1], v.fileVersion[2], v.fileVersion[3],
                v.productVersion[0], v.productVersion[1], v.productVersion[2],
                v.productVersion[3]);
  s += buf;
  s += "FILEFLAGSMASK 0x3f\nFILEFLAGS 0\nFILEOS VOS_NT_WINDOWS32\nFILETYPE VFT_APP\n"
       "FILESUBTYPE 0\nBEGIN\n  BLOCK \"StringFileInfo\"\n  BEGIN\n";
  std::snprintf(buf, sizeof buf, "    BLOCK \"%04X%04X\"\n    BEGIN\n", v.language, v.codePage);
  s += buf;
  for (const auto& [key, text] : StringValues(v)) {
    if (!text.empty()) s += "      VALUE \"" + std::string(key) + "\", " + RcString(text) + "\n";
  }
  std::snprintf(buf, sizeof buf,
                "    END\n  END\n  BLOCK \"VarFileInfo\"\n  BEGIN\n"
                "    VALUE \"Translation\", 0x%x, %u\n  END\nEND\n",
                v.language, v.codePage);
  return s + buf;
}

VersionInfo FullInfo() {
  VersionInfo v;
  v.fileVersion = {1, 2, 300, 65535};
  v.productVersion = {4, 5, 6, 258};
  v.companyName = "Example Software Ltd.";
  v.fileDescription = "Viewer of \"documents\"";
  v.fileVersionText = "1.2.300.65535";
  v.internalName = "viewer";
  v.legalCopyright = "Copyright (C) 2024 Example";
  v.originalFilename = "C:\\Tools\\Viewer.exe";
  v.productName = "Viewer";
  v.productVersionText = "4.5\tbeta";
  return v;
}

struct VersionCase {
  const char* name;
  VersionInfo info;
};
void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }


std::vector<VersionCase> VersionCases() {
  std::vector<VersionCase> cases;
  cases.push_back({"AllStrings", FullInfo()});

  VersionInfo some = FullInfo();
  some.fileDescription.clear();
  some.internalName.clear();
  some.productVersionText.clear();
  cases.push_back({"EmptyStringsLeftOut", some});

  VersionInfo none;
  none.fileVersion = {0, 0, 0, 1};
  cases.push_back({"NoStrings", none});

  VersionInfo nonAscii = FullInfo();
  nonAscii.companyName = "Société Générale d'Édition";
  nonAscii.fileDescription = "Übersicht — 東京 🚀 grinning 😀";
  nonAscii.legalCopyright = "© 2024 Ωmega";
  nonAscii.productName = "𝄞";
  cases.push_back({"NonAsciiText", nonAscii});

  // Values of one to four characters: with the NUL, every padding the format can need.
  VersionInfo odd;
  odd.companyName = "A";
  odd.fileDescription = "Ab";
  odd.fileVersionText = "Abc";
  odd.internalName = "Abcd";
  odd.legalCopyright = "é";
  odd.originalFilename = "😀";
  odd.productName = "x😀";
  odd.productVersionText = "12345";
  cases.push_back({"OddLengths", odd});

  VersionInfo german = FullInfo();
  german.language = 0x0407;
  german.codePage = 1252;
  cases.push_back({"OtherLanguage", german});

  // The longest text that still fits the format's 16-bit lengths.
  VersionInfo longest;
  longest.companyName = std::string(32639, 'w');
  cases.push_back({"LongestText", longest});
  return cases;
}

class VersionOracleTest : public testing::TestWithParam<VersionCase> {};

TEST_P(VersionOracleTest, MatchesWindresAndReadsBack) {
  const VersionInfo& info = GetParam().info;
  Bytes encoded;
  const Error e = EncodeVersionInfo(info, encoded);
  ASSERT_FALSE(e) << *e;

  const auto res = Windres(ScratchDir(), VersionScript(info));
  ASSERT_TRUE(res);
  const auto entries = ParseRes(*res);
  const Bytes* compiled = FindRes(entries, kRtVersion, 1);
  ASSERT_TRUE(compiled);
  EXPECT_TRUE(SameBytes(*compiled, encoded));

  VersionInfo fromWindres;
  const Error we = DecodeVersionInfo(*compiled, fromWindres);
  ASSERT_FALSE(we) << *we;
  EXPECT_EQ(fromWindres, info);

  VersionInfo fromEncoder;
  const Error ee = DecodeVersionInfo(encoded, fromEncoder);
  ASSERT_FALSE(ee) << *ee;
  EXPECT_EQ(fromEncoder, info);
}

INSTANTIATE_TEST_SUITE_P(Cases, VersionOracleTest, testing::ValuesIn(VersionCases()),
                         [](const auto& info) { return std::string(info.param.name); });

struct BadTextCase {
  const char* name;
  std::string text;
};
void PrintTo(const BadTextCase& c, std::ostream* os) { *os << c.name; }


class VersionTextTest : public testing::TestWithParam<BadTextCase> {};

TEST_P(VersionTextTest, IsRefusedAndOutputKept) {
  VersionInfo info = FullInfo();
  info.fileDescription = GetParam().text;
  Bytes out{1, 2, 3};
  const Error e = EncodeVersionInfo(info, out);
  ASSERT_TRUE(e);
  EXPECT_EQ(out, (Bytes{1, 2, 3}));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, VersionTextTest,
    testing::Values(BadTextCase{"CutSequence", "abc\xC3"},
                    BadTextCase{"LoneContinuation", "a\x80z"},
                    BadTextCase{"OverlongSlash", "\xC0\xAF"},
                    BadTextCase{"OverlongThreeBytes", "\xE0\x80\xAF"},
                    BadTextCase{"Surrogate", "\xED\xA0\x80"},
                    BadTextCase{"PastUnicode", "\xF4\x90\x80\x80"},
                    BadTextCase{"Latin1", "caf\xE9"},
                    BadTextCase{"EmbeddedNul", std::string("ab\0cd", 5)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VersionInfoTest, OneCharacterPastTheLongestTextIsRefused) {
  VersionInfo info;
  info.companyName = std::string(32640, 'w');  // one more than the LongestText case
  Bytes out;
  const Error e = EncodeVersionInfo(info, out);
  ASSERT_TRUE(e);
  EXPECT_NE(e->find("65535"), std::string::npos) << *e;
  EXPECT_TRUE(out.empty());
}

TEST(VersionInfoTest, TextsTooLongTogetherAreRefused) {
  VersionInfo info;
  info.companyName = std::string(20000, 'a');
  info.productName = std::string(20000, 'b');
  Bytes out;
  const Error e = EncodeVersionInfo(info, out);
  ASSERT_TRUE(e);
  EXPECT_NE(e->find("65535"), std::string::npos) << *e;
  EXPECT_TRUE(out.empty());
}

TEST(VersionInfoTest, DecodeRefusesEveryCutAndKeepsOutput) {
  Bytes encoded;
  ASSERT_FALSE(EncodeVersionInfo(FullInfo(), encoded));
  for (size_t n = 0; n < encoded.size(); ++n) {
    VersionInfo out;
    out.companyName = "kept";
    const Error e = DecodeVersionInfo(std::span(encoded).first(n), out);
    EXPECT_TRUE(e) << "accepted the first " << n << " bytes";
    EXPECT_EQ(out.companyName, "kept");
  }
}

TEST(VersionInfoTest, DecodeSurvivesEveryDamagedByte) {
  Bytes encoded;
  ASSERT_FALSE(EncodeVersionInfo(FullInfo(), encoded));
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
}

TEST(VersionInfoTest, DecodeRefusesOtherData) {
  VersionInfo out;
  const Bytes manifest = FromText(EncodeManifest({}));
  EXPECT_TRUE(DecodeVersionInfo(manifest, out));
  Bytes encoded;
  ASSERT_FALSE(EncodeVersionInfo(FullInfo(), encoded));
  Set32(encoded, 40, 0x12345678);  // the fixed information's signature
  EXPECT_TRUE(DecodeVersionInfo(encoded, out));
}

// --- Icons ---

struct DirectoryPatch {
  std::optional<uint16_t> planes = std::nullopt, bitCount = std::nullopt;
  std::optional<uint8_t> colors = std::nullopt, reserved = std::nullopt;
};

// Writes the fields of every entry of an .ico's directory.
Bytes PatchDirectory(Bytes ico, const DirectoryPatch& p) {
  const uint16_t count = Get16(ico, 4);
  for (uint16_t i = 0; i < count; ++i) {
    const size_t entry = 6 + 16 * size_t{i};
    if (p.colors) ico[entry + 2] = *p.colors;
    if (p.reserved) ico[entry + 3] = *p.reserved;
    if (p.planes) Set16(ico, entry + 4, *p.planes);
    if (p.bitCount) Set16(ico, entry + 6, *p.bitCount);
  }
  return ico;
}

struct IconCase {
  const char* name;
  fs::path file;
  DirectoryPatch patch;
};
void PrintTo(const IconCase& c, std::ostream* os) { *os << c.name; }


class IconOracleTest : public testing::TestWithParam<IconCase> {};

TEST_P(IconOracleTest, MatchesWindres) {
  const IconCase& c = GetParam();
  const Bytes ico = PatchDirectory(ReadFile(c.file), c.patch);
  ASSERT_FALSE(ico.empty());
  const fs::path dir = ScratchDir();
  WriteFile(dir / "app.ico", ico);
  const auto res = Windres(dir, "1 ICON \"app.ico\"\n");
  ASSERT_TRUE(res);
  const auto entries = ParseRes(*res);

  IconResources icon;
  const Error e = EncodeIconFile(ico, 1, icon);
  ASSERT_FALSE(e) << *e;
  const Bytes* group = FindRes(entries, kRtGroupIcon, 1);
  ASSERT_TRUE(group);
  EXPECT_TRUE(SameBytes(*group, icon.group));
  ASSERT_EQ(CountType(entries, kRtIcon), icon.images.size());
  for (size_t i = 0; i < icon.images.size(); ++i) {
    const Bytes* image = FindRes(entries, kRtIcon, static_cast<uint16_t>(i + 1));
    ASSERT_TRUE(image) << "no icon " << i + 1;
    EXPECT_TRUE(SameBytes(*image, icon.images[i])) << "icon " << i + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, IconOracleTest,
    testing::Values(
        IconCase{"ProjectIcon", kSourceDir / "resources" / "corvane.ico", {}},
        IconCase{"PngAndBitmaps", kImages / "mixed.ico", {}},
        // Icon writers that leave planes and bits 0: windres derives bits from the colours.
        IconCase{"NoBitsSixteenColours", kImages / "mixed.ico", {.planes = 0, .bitCount = 0, .colors = 16}},
        IconCase{"NoBitsNoColours", kImages / "mixed.ico", {.planes = 0, .bitCount = 0, .colors = 0}},
        IconCase{"NoBitsOneColour", kImages / "mixed.ico", {.planes = 0, .bitCount = 0, .colors = 1}},
        IconCase{"NoBitsTwoColours", kImages / "mixed.ico", {.planes = 0, .bitCount = 0, .colors = 2}},
        IconCase{"NoBitsSeventeenColours", kImages / "mixed.ico", {.planes = 0, .bitCount = 0, .colors = 17}},
        IconCase{"NoBits255Colours", kImages / "mixed.ico", {.planes = 0, .bitCount = 0, .colors = 255}},
        IconCase{"TwoPlanesNoBits", kImages / "mixed.ico", {.planes = 2, .bitCount = 0, .colors = 16}},
        IconCase{"NoPlanesFourBits", kImages / "mixed.ico", {.planes = 0, .bitCount = 4, .colors = 0}},
        IconCase{"OddPlanesAndBits", kImages / "mixed.ico", {.planes = 3, .bitCount = 24, .colors = 7}},
        IconCase{"ReservedByteSet", kImages / "mixed.ico", {.reserved = 5}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IconTest, IdsStartWhereAskedAsAfterAnotherIcon) {
  const Bytes first = ReadFile(kSourceDir / "resources" / "corvane.ico");
  const Bytes second = ReadFile(kImages / "mixed.ico");
  const fs::path dir = ScratchDir();
  WriteFile(dir / "first.ico", first);
  WriteFile(dir / "second.ico", second);
  const auto res = Windres(dir, "1 ICON \"first.ico\"\n2 ICON \"second.ico\"\n");
  ASSERT_TRUE(res);
  const auto entries = ParseRes(*res);

  IconResources a, b;
  ASSERT_FALSE(EncodeIconFile(first, 1, a));
  ASSERT_FALSE(EncodeIconFile(second, static_cast<uint16_t>(1 + a.images.size()), b));
  const Bytes* group = FindRes(entries, kRtGroupIcon, 2);
  ASSERT_TRUE(group);
  EXPECT_TRUE(SameBytes(*group, b.group));
  for (size_t i = 0; i < b.images.size(); ++i) {
    const Bytes* image = FindRes(entries, kRtIcon, static_cast<uint16_t>(1 + a.images.size() + i));
    ASSERT_TRUE(image);
    EXPECT_TRUE(SameBytes(*image, b.images[i]));
  }
}

struct BadIconCase {
  const char* name;
  std::function<Bytes()> make;
  uint16_t firstId = 1;
};
void PrintTo(const BadIconCase& c, std::ostream* os) { *os << c.name; }


Bytes MixedIco() { return ReadFile(kImages / "mixed.ico"); }

class BadIconTest : public testing::TestWithParam<BadIconCase> {};

TEST_P(BadIconTest, IsRefusedAndOutputKept) {
  const Bytes ico = GetParam().make();
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
        BadIconCase{"Empty", [] { return Bytes{}; }},
        BadIconCase{"CutInDirectory", [] { return Bytes{0, 0, 1, 0, 1}; }},
        BadIconCase{"CountZero", [] { return Bytes{0, 0, 1, 0, 0, 0}; }},
        BadIconCase{"Cursor", [] { Bytes b = MixedIco(); Set16(b, 2, 2); return b; }},
        BadIconCase{"ReservedWordSet", [] { Bytes b = MixedIco(); Set16(b, 0, 1); return b; }},
        BadIconCase{"CountPastDirectory", [] { Bytes b = MixedIco(); b.resize(6 + 16 * 3); return b; }},
        BadIconCase{"CountLargerThanFile", [] { Bytes b = MixedIco(); Set16(b, 4, 1000); return b; }},
        BadIconCase{"OffsetPastFile", [] { Bytes b = MixedIco(); Set32(b, 6 + 12, 100000); return b; }},
        BadIconCase{"SizePastFile", [] { Bytes b = MixedIco(); Set32(b, 6 + 8, 7000); return b; }},
        BadIconCase{"OffsetAndSizeWrap",
                    [] {
                      Bytes b = MixedIco();
                      Set32(b, 6 + 8, 0x20);
                      Set32(b, 6 + 12, 0xFFFFFFF0u);
                      return b;
                    }},
        BadIconCase{"SizeZero", [] { Bytes b = MixedIco(); Set32(b, 6 + 16 + 8, 0); return b; }},
        BadIconCase{"ImageNeitherPngNorBitmap",
                    [] {
                      Bytes b = MixedIco();
                      const uint32_t at = Get32(b, 6 + 16 + 12);
                      for (int k = 0; k < 8; ++k) b[at + k] = 'x';
                      return b;
                    }},
        BadIconCase{"IdZero", MixedIco, 0},
        BadIconCase{"IdsPastLargest", MixedIco, 65533}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Bitmaps ---

// A BMP file built from its parts, with every offset and size right unless a case changes them.
struct BmpSpec {
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

Bytes MakeBmp(const BmpSpec& s) {
  Bytes info;
  if (s.headerSize == 12) {
    Put32(info, 12);
    Put16(info, static_cast<uint16_t>(s.width));
    Put16(info, static_cast<uint16_t>(s.height));
    Put16(info, 1);
    Put16(info, s.bitCount);
  } else {
    Put32(info, s.headerSize);
    Put32(info, static_cast<uint32_t>(s.width));
    Put32(info, static_cast<uint32_t>(s.height));
    Put16(info, 1);
    Put16(info, s.bitCount);
    Put32(info, s.compression);
    Put32(info, static_cast<uint32_t>(s.rle.size()));
    Put32(info, 2835);
    Put32(info, 2835);
    Put32(info, s.colorsUsed);
    Put32(info, 0);
    while (info.size() < s.headerSize) info.push_back(0);
    if (s.headerSize >= 52) {  // masks of a 16-bit 5-6-5 or a 32-bit image
      Set32(info, 40, s.bitCount == 16 ? 0xF800 : 0xFF0000);
      Set32(info, 44, s.bitCount == 16 ? 0x07E0 : 0xFF00);
      Set32(info, 48, s.bitCount == 16 ? 0x001F : 0xFF);
    }
  }
  if (s.masks) {
    Put32(info, 0xF800);
    Put32(info, 0x07E0);
    Put32(info, 0x001F);
  }
  for (uint32_t i = 0; i < s.tableEntries; ++i) {
    for (int k = 0; k < (s.headerSize == 12 ? 3 : 4); ++k) {
      info.push_back(static_cast<uint8_t>(i * 7 + k));
    }
  }
  info.insert(info.end(), s.gap, 0xEE);
  Bytes pixels = s.rle;
  if (pixels.empty()) {
    const size_t stride = (size_t(s.width) * s.bitCount + 31) / 32 * 4;
    const size_t rows = size_t(s.height < 0 ? -s.height : s.height);
    for (size_t i = 0; i < stride * rows; ++i) pixels.push_back(static_cast<uint8_t>(i * 13 + 1));
  }
  Bytes file{'B', 'M'};
  Put32(file, static_cast<uint32_t>(14 + info.size() + pixels.size()));
  Put32(file, 0);
  Put32(file, static_cast<uint32_t>(14 + info.size()));
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
void PrintTo(const BitmapCase& c, std::ostream* os) { *os << c.name; }


class BitmapOracleTest : public testing::TestWithParam<BitmapCase> {};

TEST_P(BitmapOracleTest, MatchesWindres) {
  const Bytes bmp = GetParam().make();
  ASSERT_FALSE(bmp.empty());
  const fs::path dir = ScratchDir();
  WriteFile(dir / "image.bmp", bmp);
  const auto res = Windres(dir, "1 BITMAP \"image.bmp\"\n");
  ASSERT_TRUE(res);
  const auto entries = ParseRes(*res);
  const Bytes* compiled = FindRes(entries, kRtBitmap, 1);
  ASSERT_TRUE(compiled);

  Bytes dib;
  const Error e = EncodeBitmapFile(bmp, dib);
  ASSERT_FALSE(e) << *e;
  EXPECT_TRUE(SameBytes(*compiled, dib));
}

INSTANTIATE_TEST_SUITE_P(
    Files, BitmapOracleTest,
    testing::Values(
        BitmapCase{"Splash8BitRle", [] { return ReadFile(kSourceDir / "resources" / "splash.bmp"); }},
        BitmapCase{"TrueColour24Bit", [] { return ReadFile(kImages / "opaque.bmp"); }},
        BitmapCase{"Alpha32BitV5", [] { return ReadFile(kImages / "alpha.bmp"); }},
        BitmapCase{"Core1Bit", [] { return MakeBmp({.headerSize = 12, .width = 9, .height = 2, .bitCount = 1, .tableEntries = 2}); }},
        BitmapCase{"Rle4", [] { return MakeBmp({.bitCount = 4, .compression = 2, .tableEntries = 16, .rle = kRle4}); }},
        BitmapCase{"Rle8ShortTable", [] { return MakeBmp({.compression = 1, .colorsUsed = 10, .tableEntries = 10, .rle = kRle8}); }},
        BitmapCase{"Masks16Bit", [] { return MakeBmp({.bitCount = 16, .compression = 3, .tableEntries = 0, .masks = true}); }},
        BitmapCase{"V4Masks32Bit", [] { return MakeBmp({.headerSize = 108, .bitCount = 32, .compression = 3, .tableEntries = 0}); }},
        BitmapCase{"TopDown24Bit", [] { return MakeBmp({.width = 7, .height = -4, .bitCount = 24, .tableEntries = 0}); }},
        BitmapCase{"Plain32Bit", [] { return MakeBmp({.width = 3, .bitCount = 32, .tableEntries = 0}); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BitmapTest, BytesBeforeThePixelsAreDropped) {
  // A packed DIB has no pixel offset: Windows takes the pixels right after the colour table.
  const Bytes withGap = MakeBmp({.width = 3, .bitCount = 24, .tableEntries = 0, .gap = 6});
  const Bytes without = MakeBmp({.width = 3, .bitCount = 24, .tableEntries = 0});
  Bytes a, b;
  ASSERT_FALSE(EncodeBitmapFile(withGap, a));
  ASSERT_FALSE(EncodeBitmapFile(without, b));
  EXPECT_EQ(a, b);
  EXPECT_EQ(b, Bytes(without.begin() + 14, without.end()));
}

// A V5 BMP with bytes between its table and pixels and an embedded colour profile at
// `profileAt` (from the start of the info header), the profile's bytes appended to the file.
Bytes BmpWithProfile(std::optional<uint32_t> profileAt, const Bytes& profile) {
  Bytes b = MakeBmp({.headerSize = 124, .width = 3, .bitCount = 24, .tableEntries = 0, .gap = 8});
  Set32(b, 14 + 56, 0x4D424544);  // PROFILE_EMBEDDED
  Set32(b, 14 + 112, profileAt.value_or(static_cast<uint32_t>(b.size() - 14)));
  Set32(b, 14 + 116, static_cast<uint32_t>(profile.size()));
  b.insert(b.end(), profile.begin(), profile.end());
  Set32(b, 2, static_cast<uint32_t>(b.size()));
  return b;
}

TEST(BitmapTest, AProfileAfterThePixelsMovesWithThem) {
  const Bytes profile = FromText("profile-bytes-16");
  const Bytes bmp = BmpWithProfile(std::nullopt, profile);
  Bytes dib;
  const Error e = EncodeBitmapFile(bmp, dib);
  ASSERT_FALSE(e) << *e;
  EXPECT_EQ(dib.size(), bmp.size() - 14 - 8);
  const uint32_t at = Get32(dib, 112);
  EXPECT_EQ(at, Get32(bmp, 14 + 112) - 8);
  ASSERT_LE(size_t{at} + profile.size(), dib.size());
  EXPECT_EQ(Bytes(dib.begin() + at, dib.begin() + at + 16), profile);
}

TEST(BitmapTest, AProfileBeforeThePixelsWithBytesBetweenIsRefused) {
  const uint32_t inTheGap = 124;  // right after the header, where the dropped bytes lie
  Bytes dib{7};
  const Error e = EncodeBitmapFile(BmpWithProfile(inTheGap, FromText("p")), dib);
  ASSERT_TRUE(e);
  EXPECT_NE(e->find("profile"), std::string::npos) << *e;
  EXPECT_EQ(dib, Bytes{7});
}

struct PngCase {
  const char* png;
  const char* bmp;  // the same pixels
  uint16_t bitCount;
};

void PrintTo(const PngCase& c, std::ostream* os) { *os << c.png; }

class PngTest : public testing::TestWithParam<PngCase> {};

TEST_P(PngTest, DecodesToTheBitmapsPixelsBottomUp) {
  const PngCase& c = GetParam();
  const Bytes bmp = ReadFile(kImages / c.bmp);
  ASSERT_GE(bmp.size(), 54u);
  const uint32_t width = Get32(bmp, 18), height = Get32(bmp, 22);
  ASSERT_EQ(Get16(bmp, 28), c.bitCount) << c.bmp << " is not a " << c.bitCount << "-bit file";
  ASSERT_GT(static_cast<int32_t>(height), 0) << "the fixture must be bottom-up";
  const size_t stride = (size_t{width} * c.bitCount + 31) / 32 * 4;
  const Bytes expectedPixels(bmp.begin() + Get32(bmp, 10),
                             bmp.begin() + Get32(bmp, 10) + static_cast<ptrdiff_t>(stride * height));

  Bytes dib;
  const Error e = EncodeBitmapFile(ReadFile(kImages / c.png), dib);
  ASSERT_FALSE(e) << *e;
  ASSERT_GE(dib.size(), 40u);
  EXPECT_EQ(Get32(dib, 0), 40u);
  EXPECT_EQ(Get32(dib, 4), width);
  EXPECT_EQ(Get32(dib, 8), height);  // positive: bottom-up
  EXPECT_EQ(Get16(dib, 12), 1u);
  EXPECT_EQ(Get16(dib, 14), c.bitCount);
  EXPECT_EQ(Get32(dib, 16), 0u);  // BI_RGB
  EXPECT_EQ(Get32(dib, 20), stride * height);
  EXPECT_EQ(Get32(dib, 32), 0u);  // no colour table
  EXPECT_TRUE(SameBytes(expectedPixels, Bytes(dib.begin() + 40, dib.end())));

  // The DIB reads back as a BMP file of its own.
  Bytes file{'B', 'M'};
  Put32(file, static_cast<uint32_t>(14 + dib.size()));
  Put32(file, 0);
  Put32(file, 54);
  file.insert(file.end(), dib.begin(), dib.end());
  Bytes again;
  ASSERT_FALSE(EncodeBitmapFile(file, again));
  EXPECT_EQ(again, dib);
}

INSTANTIATE_TEST_SUITE_P(
    Files, PngTest,
    testing::Values(PngCase{"opaque.png", "opaque.bmp", 24},
                    PngCase{"opaque-rgb-interlaced.png", "opaque.bmp", 24},
                    PngCase{"alpha.png", "alpha.bmp", 32},
                    PngCase{"alpha-rgba.png", "alpha.bmp", 32},
                    PngCase{"alpha-rgba16.png", "alpha.bmp", 32}),
    [](const auto& info) {
      std::string name = info.param.png;
      for (char& ch : name) {
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

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
uint32_t GetBe32(const Bytes& d, size_t at) {
  return (uint32_t{d[at]} << 24) | (uint32_t{d[at + 1]} << 16) | (uint32_t{d[at + 2]} << 8) |
         d[at + 3];
}

// The opaque PNG with its chunk at `at` changed by `edit` and its checksum made right again.
Bytes EditChunk(size_t at, const std::function<void(Bytes&)>& edit) {
  Bytes png = ReadFile(kImages / "opaque-rgb-interlaced.png");
  edit(png);
  const uint32_t length = GetBe32(png, at);
  SetBe32(png, at + 8 + length, Crc32(std::span(png).subspan(at + 4, 4 + length)));
  return png;
}

size_t FindChunk(const Bytes& png, const char* type) {
  for (size_t at = 8; at + 12 <= png.size(); at += 12 + GetBe32(png, at)) {
    if (std::equal(png.begin() + static_cast<ptrdiff_t>(at + 4),
                   png.begin() + static_cast<ptrdiff_t>(at + 8), type)) {
      return at;
    }
  }
  ADD_FAILURE() << "no " << type << " chunk";
  return 8;
}

// An IHDR of these dimensions in place of the fixture's.
Bytes PngOfSize(uint32_t width, uint32_t height) {
  return EditChunk(8, [=](Bytes& png) {
    SetBe32(png, 16, width);
    SetBe32(png, 20, height);
  });
}

struct BadBitmapCase {
  const char* name;
  std::function<Bytes()> make;
  const char* says;  // a word the error must hold
};
void PrintTo(const BadBitmapCase& c, std::ostream* os) { *os << c.name; }


class BadBitmapTest : public testing::TestWithParam<BadBitmapCase> {};

TEST_P(BadBitmapTest, IsRefusedAndOutputKept) {
  Bytes dib{7};
  const Error e = EncodeBitmapFile(GetParam().make(), dib);
  ASSERT_TRUE(e);
  EXPECT_NE(e->find(GetParam().says), std::string::npos) << *e;
  EXPECT_EQ(dib, Bytes{7});
}

Bytes Bmp8() { return MakeBmp({}); }
Bytes WithField32(Bytes b, size_t at, uint32_t v) { Set32(b, at, v); return b; }
Bytes WithField16(Bytes b, size_t at, uint16_t v) { Set16(b, at, v); return b; }

INSTANTIATE_TEST_SUITE_P(
    Files, BadBitmapTest,
    testing::Values(
        BadBitmapCase{"Empty", [] { return Bytes{}; }, "neither"},
        BadBitmapCase{"Gif", [] { return FromText("GIF89a\x01\x00\x01\x00"); }, "neither"},
        BadBitmapCase{"Text", [] { return FromText("not an image at all"); }, "neither"},
        BadBitmapCase{"BmpTooShort", [] { return FromText("BM\x10\x00"); }, "short"},
        BadBitmapCase{"BmpFileSizeLies", [] { return WithField32(Bmp8(), 2, 1u << 20); }, "cut short"},
        BadBitmapCase{"BmpHeaderSizeUnknown", [] { return WithField32(Bmp8(), 14, 41); }, "41"},
        BadBitmapCase{"BmpHeaderSizePastFile", [] { return WithField32(Bmp8(), 14, 124); }, "colour table"},
        BadBitmapCase{"BmpHeaderCut", [] { Bytes b = Bmp8(); b.resize(30); Set32(b, 2, 30); return b; }, "info header"},
        BadBitmapCase{"BmpBitsOffsetInHeader", [] { return WithField32(Bmp8(), 10, 20); }, "points into"},
        BadBitmapCase{"BmpBitsOffsetInTable", [] { return WithField32(Bmp8(), 10, 54 + 1020); }, "points into"},
        BadBitmapCase{"BmpBitsOffsetPastFile", [] { return WithField32(Bmp8(), 10, 1u << 30); }, "past the end"},
        BadBitmapCase{"BmpPixelsCut", [] { Bytes b = Bmp8(); b.resize(b.size() - 5); Set32(b, 2, 0); return b; }, "cut short"},
        BadBitmapCase{"BmpTableCut", [] { Bytes b = Bmp8(); b.resize(400); Set32(b, 2, 0); return b; }, "colour table"},
        BadBitmapCase{"BmpNoPlanes", [] { return WithField16(Bmp8(), 26, 0); }, "plane"},
        BadBitmapCase{"BmpSevenBits", [] { return WithField16(Bmp8(), 28, 7); }, "7 bits"},
        BadBitmapCase{"BmpWidthZero", [] { return WithField32(Bmp8(), 18, 0); }, "0 x 3"},
        BadBitmapCase{"BmpWidthNegative", [] { return WithField32(Bmp8(), 18, 0xFFFFFFFBu); }, "-5 x 3"},
        BadBitmapCase{"BmpHeightZero", [] { return WithField32(Bmp8(), 22, 0); }, "5 x 0"},
        BadBitmapCase{"BmpHeightMostNegative", [] { return WithField32(Bmp8(), 22, 0x80000000u); }, "pixels"},
        BadBitmapCase{"BmpTooWide", [] { return WithField32(Bmp8(), 18, 20000); }, "16384"},
        BadBitmapCase{"BmpHugeWithinSides",
                      [] { Bytes b = MakeBmp({.width = 1, .height = 1, .bitCount = 32, .tableEntries = 0});
                           Set32(b, 18, 16000); Set32(b, 22, 16000); return b; }, "MiB"},
        BadBitmapCase{"BmpTooManyColours", [] { return WithField32(Bmp8(), 46, 300); }, "300"},
        BadBitmapCase{"BmpColourCountPastFile",
                      [] { return MakeBmp({.bitCount = 24, .colorsUsed = 0xFFFFFFFFu, .tableEntries = 0}); }, "colour table"},
        BadBitmapCase{"BmpRleOfWrongDepth", [] { return WithField32(Bmp8(), 30, 2); }, "run-length"},
        BadBitmapCase{"BmpRleTopDown",
                      [] { return MakeBmp({.height = -2, .compression = 1, .rle = kRle8}); }, "top-down"},
        BadBitmapCase{"BmpRleWithoutSize",
                      [] { return WithField32(MakeBmp({.compression = 1, .rle = kRle8}), 34, 0); }, "size"},
        BadBitmapCase{"BmpRleSizePastFile",
                      [] { return WithField32(MakeBmp({.compression = 1, .rle = kRle8}), 34, 5000); }, "cut short"},
        BadBitmapCase{"BmpMasksOfWrongDepth", [] { return WithField32(Bmp8(), 30, 3); }, "masks"},
        BadBitmapCase{"BmpHoldsPng", [] { return WithField32(Bmp8(), 30, 5); }, "PNG"},
        BadBitmapCase{"BmpUnknownCompression", [] { return WithField32(Bmp8(), 30, 9); }, "compression 9"},
        BadBitmapCase{"CoreThirtyTwoBits",
                      [] { return MakeBmp({.headerSize = 12, .bitCount = 32, .tableEntries = 0}); }, "32 bits"},
        BadBitmapCase{"PngSignatureOnly",
                      [] { Bytes p = ReadFile(kImages / "opaque.png"); p.resize(8); return p; }, "cut short"},
        BadBitmapCase{"PngCutInHalf",
                      [] { Bytes p = ReadFile(kImages / "opaque.png"); p.resize(p.size() / 2); return p; }, "cut short"},
        BadBitmapCase{"PngWithoutEnd",
                      [] { Bytes p = ReadFile(kImages / "opaque.png"); p.resize(p.size() - 12); return p; }, "cut short"},
        BadBitmapCase{"PngDamagedByte",
                      [] { Bytes p = ReadFile(kImages / "opaque-rgb-interlaced.png");
                           p[FindChunk(p, "IDAT") + 20] ^= 0x40; return p; }, "checksum"},
        BadBitmapCase{"PngDamagedDataWithRightChecksum",
                      [] { const Bytes p = ReadFile(kImages / "opaque-rgb-interlaced.png");
                           const size_t at = FindChunk(p, "IDAT");
                           return EditChunk(at, [at](Bytes& q) { for (size_t k = 8; k < 40; ++k) q[at + k] = 0xFF; }); },
                      "cannot be decoded"},
        BadBitmapCase{"PngChunkLengthHuge",
                      [] { Bytes p = ReadFile(kImages / "opaque.png"); SetBe32(p, FindChunk(p, "IDAT"), 0x80000000u); return p; },
                      "damaged"},
        BadBitmapCase{"PngDataBeforeHeader",
                      [] { return EditChunk(8, [](Bytes& p) { std::copy_n("IDAT", 4, p.begin() + 12); }); }, "header"},
        BadBitmapCase{"PngTooWide", [] { return PngOfSize(20000, 7); }, "16384"},
        BadBitmapCase{"PngTooManyPixels", [] { return PngOfSize(16000, 16000); }, "MiB"},
        BadBitmapCase{"PngNoPixels", [] { return PngOfSize(0, 7); }, "no pixels"}),
    [](const auto& info) { return std::string(info.param.name); });

// Any file cut anywhere is refused: each of these ends with data that something before it needs.
class CutFileTest : public testing::TestWithParam<const char*> {};

TEST_P(CutFileTest, EveryCutIsRefused) {
  const std::string name = GetParam();
  const fs::path path = name == "splash.bmp" ? kSourceDir / "resources" / name
                        : name == "corvane.ico" ? kSourceDir / "resources" / name
                                                : kImages / name;
  const Bytes file = ReadFile(path);
  ASSERT_FALSE(file.empty());
  const bool icon = path.extension() == ".ico";
  for (size_t n = 0; n < file.size(); ++n) {
    const auto cut = std::span(file).first(n);
    Error e;
    if (icon) {
      IconResources out;
      e = EncodeIconFile(cut, 1, out);
    } else {
      Bytes out;
      e = EncodeBitmapFile(cut, out);
    }
    ASSERT_TRUE(e) << "accepted " << name << " cut to " << n << " bytes";
  }
}

INSTANTIATE_TEST_SUITE_P(Files, CutFileTest,
                         testing::Values("splash.bmp", "corvane.ico", "mixed.ico", "opaque.bmp",
                                         "alpha.bmp", "opaque.png", "alpha-rgba16.png"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& ch : name) {
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return name;
                         });

// --- Manifest ---

// A small XML reader, enough to prove the manifest well-formed: one root, matched tags, quoted and
// unique attributes, the declaration first, character and entity references that resolve.
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

class XmlReader {
 public:
  explicit XmlReader(std::string text) : s_(std::move(text)) {}

  std::optional<XmlElement> Document(std::string& error) {
    if (s_.compare(0, 6, "<?xml ") != 0) return Fail(error, "no XML declaration");
    const size_t end = s_.find("?>");
    if (end == std::string::npos) return Fail(error, "unclosed declaration");
    at_ = end + 2;
    SkipSpace();
    XmlElement root;
    if (!Element(root, error)) return std::nullopt;
    SkipSpace();
    if (at_ != s_.size()) return Fail(error, "content after the root element");
    return root;
  }

 private:
  std::optional<XmlElement> Fail(std::string& error, const std::string& what) {
    error = what + " at " + std::to_string(at_);
    return std::nullopt;
  }
  bool Bad(std::string& error, const std::string& what) {
    error = what + " at " + std::to_string(at_);
    return false;
  }
  void SkipSpace() {
    while (at_ < s_.size() && isspace(static_cast<unsigned char>(s_[at_]))) ++at_;
  }
  std::string Name() {
    const size_t begin = at_;
    while (at_ < s_.size() && (isalnum(static_cast<unsigned char>(s_[at_])) || s_[at_] == ':' ||
                               s_[at_] == '_' || s_[at_] == '-' || s_[at_] == '.')) {
      ++at_;
    }
    return s_.substr(begin, at_ - begin);
  }
  bool Unescape(const std::string& raw, std::string& out, std::string& error) {
    out.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '<') return Bad(error, "'<' in text");
      if (raw[i] != '&') {
        out += raw[i];
        continue;
      }
      const size_t semi = raw.find(';', i);
      if (semi == std::string::npos) return Bad(error, "unended reference");
      const std::string ref = raw.substr(i + 1, semi - i - 1);
      static const std::map<std::string, char> kNamed = {
          {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
      if (auto it = kNamed.find(ref); it != kNamed.end()) out += it->second;
      else return Bad(error, "unknown reference &" + ref + ";");
      i = semi;
    }
    return true;
  }
  bool Element(XmlElement& e, std::string& error) {
    if (at_ >= s_.size() || s_[at_] != '<') return Bad(error, "expected an element");
    ++at_;
    e.name = Name();
    if (e.name.empty()) return Bad(error, "element without a name");
    for (;;) {
      const size_t before = at_;
      SkipSpace();
      if (at_ >= s_.size()) return Bad(error, "unended start tag");
      if (s_.compare(at_, 2, "/>") == 0) {
        at_ += 2;
        return true;
      }
      if (s_[at_] == '>') {
        ++at_;
        break;
      }
      if (at_ == before) return Bad(error, "no space before an attribute");
      const std::string name = Name();
      if (name.empty() || at_ >= s_.size() || s_[at_] != '=') return Bad(error, "bad attribute");
      ++at_;
      if (at_ >= s_.size() || (s_[at_] != '"' && s_[at_] != '\'')) {
        return Bad(error, "unquoted attribute");
      }
      const char quote = s_[at_++];
      const size_t end = s_.find(quote, at_);
      if (end == std::string::npos) return Bad(error, "unended attribute");
      std::string value;
      if (!Unescape(s_.substr(at_, end - at_), value, error)) return false;
      if (!e.attributes.emplace(name, value).second) return Bad(error, "repeated attribute " + name);
      at_ = end + 1;
    }
    for (;;) {
      const size_t lt = s_.find('<', at_);
      if (lt == std::string::npos) return Bad(error, "unended element " + e.name);
      std::string text;
      if (!Unescape(s_.substr(at_, lt - at_), text, error)) return false;
      e.text += text;
      at_ = lt;
      if (s_.compare(at_, 2, "</") == 0) {
        at_ += 2;
        if (Name() != e.name) return Bad(error, "end tag does not match " + e.name);
        SkipSpace();
        if (at_ >= s_.size() || s_[at_] != '>') return Bad(error, "unended end tag");
        ++at_;
        return true;
      }
      XmlElement child;
      if (!Element(child, error)) return false;
      e.children.push_back(std::move(child));
    }
  }

  const std::string s_;
  size_t at_ = 0;
};

TEST(XmlReaderTest, RefusesMalformedText) {
  for (const char* bad : {"<a/>", "<?xml version=\"1.0\"?><a>", "<?xml version=\"1.0\"?><a></b>",
                          "<?xml version=\"1.0\"?><a x=1/>", "<?xml version=\"1.0\"?><a x=\"1\" x=\"2\"/>",
                          "<?xml version=\"1.0\"?><a/><b/>", "<?xml version=\"1.0\"?><a>&nbsp;</a>"}) {
    std::string error;
    EXPECT_FALSE(XmlReader(bad).Document(error)) << bad;
  }
}

std::vector<ManifestOptions> AllManifestOptions() {
  std::vector<ManifestOptions> all;
  for (auto level : {ExecutionLevel::AsInvoker, ExecutionLevel::HighestAvailable,
                     ExecutionLevel::RequireAdministrator}) {
    for (auto dpi : {DpiAwareness::Unaware, DpiAwareness::System, DpiAwareness::PerMonitor,
                     DpiAwareness::PerMonitorV2}) {
      for (bool longPaths : {false, true}) {
        for (bool utf8 : {false, true}) all.push_back({level, dpi, longPaths, utf8});
      }
    }
  }
  return all;
}

TEST(ManifestTest, EveryCombinationCompilesAsItsOwnText) {
  const fs::path dir = ScratchDir();
  const auto all = AllManifestOptions();
  std::string script;
  for (size_t i = 0; i < all.size(); ++i) {
    const std::string file = "m" + std::to_string(i + 1) + ".manifest";
    WriteText(dir / file, EncodeManifest(all[i]));
    script += std::to_string(i + 1) + " 24 \"" + file + "\"\n";
  }
  const auto res = Windres(dir, script);
  ASSERT_TRUE(res);
  const auto entries = ParseRes(*res);
  EXPECT_EQ(CountType(entries, kRtManifest), all.size());
  for (size_t i = 0; i < all.size(); ++i) {
    const Bytes* compiled = FindRes(entries, kRtManifest, static_cast<uint16_t>(i + 1));
    ASSERT_TRUE(compiled);
    EXPECT_TRUE(SameBytes(*compiled, FromText(EncodeManifest(all[i])))) << "manifest " << i + 1;
  }
}

const char* kAsmV3 = "urn:schemas-microsoft-com:asm.v3";
const char* kWs2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings";
const char* kWs2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings";
const char* kWs2019 = "http://schemas.microsoft.com/SMI/2019/WindowsSettings";

TEST(ManifestTest, EveryCombinationIsWellFormedWithTheAskedSettings) {
  for (const ManifestOptions& o : AllManifestOptions()) {
    const std::string text = EncodeManifest(o);
    SCOPED_TRACE(text);
    std::string error;
    const auto root = XmlReader(text).Document(error);
    ASSERT_TRUE(root) << error;
    EXPECT_EQ(root->name, "assembly");
    EXPECT_EQ(root->attributes.at("xmlns"), "urn:schemas-microsoft-com:asm.v1");
    EXPECT_EQ(root->attributes.at("manifestVersion"), "1.0");

    const XmlElement* dependency = root->Child("dependency");
    ASSERT_TRUE(dependency);
    ASSERT_TRUE(dependency->Child("dependentAssembly"));
    const XmlElement* identity = dependency->Child("dependentAssembly")->Child("assemblyIdentity");
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->attributes,
              (std::map<std::string, std::string>{{"type", "win32"},
                                                  {"name", "Microsoft.Windows.Common-Controls"},
                                                  {"version", "6.0.0.0"},
                                                  {"processorArchitecture", "*"},
                                                  {"publicKeyToken", "6595b64144ccf1df"},
                                                  {"language", "*"}}));

    const XmlElement* trust = root->Child("trustInfo");
    ASSERT_TRUE(trust);
    EXPECT_EQ(trust->attributes.at("xmlns"), kAsmV3);
    const XmlElement* security = trust->Child("security");
    ASSERT_TRUE(security && security->Child("requestedPrivileges"));
    const XmlElement* level =
        security->Child("requestedPrivileges")->Child("requestedExecutionLevel");
    ASSERT_TRUE(level);
    const char* expectedLevel = o.executionLevel == ExecutionLevel::AsInvoker ? "asInvoker"
                                : o.executionLevel == ExecutionLevel::HighestAvailable
                                    ? "highestAvailable"
                                    : "requireAdministrator";
    EXPECT_EQ(level->attributes,
              (std::map<std::string, std::string>{{"level", expectedLevel}, {"uiAccess", "false"}}));

    // name -> (namespace, value) of each setting the options ask for.
    std::map<std::string, std::pair<std::string, std::string>> expected;
    if (o.dpiAwareness == DpiAwareness::System) expected["dpiAware"] = {kWs2005, "true"};
    if (o.dpiAwareness == DpiAwareness::PerMonitor) {
      expected["dpiAware"] = {kWs2005, "true/pm"};
      expected["dpiAwareness"] = {kWs2016, "PerMonitor"};
    }
    if (o.dpiAwareness == DpiAwareness::PerMonitorV2) {
      expected["dpiAware"] = {kWs2005, "true/pm"};
      expected["dpiAwareness"] = {kWs2016, "PerMonitorV2, PerMonitor"};
    }
    if (o.longPathAware) expected["longPathAware"] = {kWs2016, "true"};
    if (o.utf8CodePage) expected["activeCodePage"] = {kWs2019, "UTF-8"};

    const XmlElement* application = root->Child("application");
    ASSERT_EQ(application != nullptr, !expected.empty());
    if (!application) continue;
    EXPECT_EQ(application->attributes.at("xmlns"), kAsmV3);
    const XmlElement* settings = application->Child("windowsSettings");
    ASSERT_TRUE(settings);
    std::map<std::string, std::pair<std::string, std::string>> found;
    for (const XmlElement& s : settings->children) {
      EXPECT_TRUE(s.children.empty());
      EXPECT_EQ(s.attributes.size(), 1u);
      found[s.name] = {s.attributes.count("xmlns") ? s.attributes.at("xmlns") : "", s.text};
    }
    EXPECT_EQ(settings->children.size(), found.size()) << "a setting is repeated";
    EXPECT_EQ(found, expected);
  }
}

}  // namespace
}  // namespace corvane::builder
