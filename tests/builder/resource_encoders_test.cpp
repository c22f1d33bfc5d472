// The resource encoders beyond what the scenario launchers compare with windres (build_test): PNG
// splashes, damaged icons and bitmaps, version numbers and texts, every manifest option.
#include "byte_order.h"
#include "resource_encoders.h"
#include "support.h"

namespace corvane::builder {
namespace {

const fs::path kImages = Source("tests/fixtures/images");

TEST(Bitmap, APngGivesTheBitmapsPixelsBottomUp) {
  for (const auto& [png, bmp] : {std::pair{"opaque.png", "opaque.bmp"}, {"opaque-rgb-interlaced.png", "opaque.bmp"},
                                 {"alpha.png", "alpha.bmp"}, {"alpha-rgba16.png", "alpha.bmp"}}) {
    const Bytes file = Read(kImages / bmp);
    const uint32_t width = Le32(file, 18), height = Le32(file, 22), bits = Le16(file, 28), stride = (width * bits + 31) / 32 * 4;
    Bytes dib;
    ASSERT_EQ(EncodeBitmapFile(Read(kImages / png), dib), std::nullopt) << png;
    // BITMAPINFOHEADER: size, width, height (positive: bottom-up), planes, bits, BI_RGB, image size.
    EXPECT_EQ((std::vector<uint32_t>{Le32(dib, 0), Le32(dib, 4), Le32(dib, 8), Le16(dib, 12), Le16(dib, 14), Le32(dib, 16), Le32(dib, 20)}),
              (std::vector<uint32_t>{40, width, height, 1, bits, 0, stride * height}));
    EXPECT_TRUE(Bytes(dib.begin() + 40, dib.end()) == Bytes(file.begin() + Le32(file, 10), file.begin() + Le32(file, 10) + stride * height)) << png;
  }
}

// A packed DIB has no pixel offset: Windows takes the pixels right after the colour table.
TEST(Bitmap, BytesBeforeThePixelsAreDropped) {
  const Bytes bmp = Read(kImages / "opaque.bmp");
  Bytes gap = bmp;
  gap.insert(gap.begin() + 54, 6, 0xEE);
  Put32(gap, 2, uint32_t(gap.size())), Put32(gap, 10, 60);
  Bytes dib;
  ASSERT_EQ(EncodeBitmapFile(gap, dib), std::nullopt);
  EXPECT_TRUE(dib == Bytes(bmp.begin() + 14, bmp.end()));
}

TEST(Bitmap, ADamagedFileIsRefusedAndTheOutputKept) {
  const Bytes bmp = Read(kImages / "opaque.bmp"), png = Read(kImages / "opaque-rgb-interlaced.png");
  const auto with = [](Bytes b, std::function<void(Bytes&)> change) { return change(b), b; };
  const std::pair<Bytes, const char*> cases[] = {
      {FromText("GIF89a\x01\x00\x01\x00"), "neither"}, {FromText("BM\x10\x00"), "short"},
      {with(bmp, [](Bytes& b) { Put32(b, 2, 1u << 20); }), "cut short"},
      {with(bmp, [](Bytes& b) { b.resize(b.size() - 5), Put32(b, 2, uint32_t(b.size())); }), "cut short"},
      {with(bmp, [](Bytes& b) { Put32(b, 14, 41); }), "41"}, {with(bmp, [](Bytes& b) { Put32(b, 10, 20); }), "points into"},
      {with(bmp, [](Bytes& b) { Put16(b, 28, 7); }), "7 bits"}, {with(bmp, [](Bytes& b) { Put32(b, 22, 0x80000000u); }), "pixels"},
      {with(bmp, [](Bytes& b) { Put32(b, 18, 20000); }), "16384"},
      {Bytes(png.begin(), png.begin() + long(png.size() / 2)), "cut short"},
      {with(png, [](Bytes& b) { b[b.size() / 2] ^= 0x40; }), "checksum"}};
  for (const auto& [file, says] : cases) {
    Bytes dib{7};
    const Error e = EncodeBitmapFile(file, dib);
    ASSERT_TRUE(e.has_value()) << says;
    EXPECT_NE(e->find(says), std::string::npos) << *e;
    EXPECT_EQ(dib, Bytes{7});
  }
}

TEST(Icon, ADamagedFileIsRefusedAndTheOutputKept) {
  const Bytes ico = Read(kImages / "mixed.ico");
  IconResources icons;
  ASSERT_EQ(EncodeIconFile(ico, 65531, icons), std::nullopt) << "five images: ids 65531 to 65535";
  const std::pair<std::function<void(Bytes&)>, uint16_t> cases[] = {
      {[](Bytes& b) { b.resize(5); }, 1}, {[](Bytes& b) { Put16(b, 4, 0); }, 1}, {[](Bytes& b) { Put16(b, 4, 1000); }, 1},
      {[](Bytes& b) { Put32(b, 18, 100000); }, 1}, {[](Bytes& b) { Put32(b, 14, 7000); }, 1},
      {[](Bytes& b) { Put32(b, 14, 0x20), Put32(b, 18, 0xFFFFFFF0u); }, 1},
      {[](Bytes& b) { std::fill_n(b.begin() + Le32(b, 34), 8, 'x'); }, 1}, {[](Bytes&) {}, 0}, {[](Bytes&) {}, 65532}};
  for (const auto& [damage, firstId] : cases) {
    Bytes file = ico;
    damage(file);
    IconResources out;
    out.group = {7};
    EXPECT_TRUE(EncodeIconFile(file, firstId, out).has_value()) << file.size() << " " << firstId;
    EXPECT_TRUE(out.group == Bytes{7} && out.images.empty());
  }
}

TEST(VersionInfo, NumbersAndTextsAreCheckedAndWhatIsWrittenReadsBack) {
  std::array<uint16_t, 4> number{};
  EXPECT_TRUE(!ParseVersionNumber("65535.0.00300", number) && number == (std::array<uint16_t, 4>{65535, 0, 300, 0}));
  for (const char* bad : {"1.2.3.4.5", "65536", "", "1..2", "1.", " 1", "-1", "+1", "0x10", "99999999999999999999999"}) {
    EXPECT_TRUE(ParseVersionNumber(bad, number).has_value() && number[0] == 65535) << bad;
  }
  VersionInfo info;
  info.companyName = "Soci\xC3\xA9t\xC3\xA9 \xF0\x9F\x9A\x80", info.productVersionText = "4.5\tbeta", info.language = 0x0407;
  Bytes encoded{1};
  ASSERT_EQ(EncodeVersionInfo(info, encoded), std::nullopt);
  VersionInfo back;
  EXPECT_TRUE(!DecodeVersionInfo(encoded, back) && back == info);
  for (size_t n = 0; n < encoded.size(); n += 3) EXPECT_TRUE(DecodeVersionInfo(std::span(encoded).first(n), back)) << n;
  for (const std::string& bad : {std::string("caf\xE9"), std::string("\xED\xA0\x80"), std::string("a\0b", 3), std::string(32640, 'w')}) {
    info.fileDescription = bad;
    Bytes out{1};
    EXPECT_TRUE(EncodeVersionInfo(info, out).has_value() && out == Bytes{1}) << bad.size();
  }
}

TEST(Manifest, AsksForCommonControlsAndEveryOptionGiven) {
  for (int combination = 0; combination < 48; ++combination) {
    const int level = combination % 3, dpi = combination / 3 % 4;
    const ManifestOptions o{ExecutionLevel(level), DpiAwareness(dpi), combination / 12 % 2 == 1, combination / 24 == 1};
    const std::string text = EncodeManifest(o);
    const char* levels[] = {"\"asInvoker\"", "\"highestAvailable\"", "\"requireAdministrator\""};
    const char *aware[] = {"", ">true<", ">true/pm<", ">true/pm<"}, *awareness[] = {"", "", ">PerMonitor<", ">PerMonitorV2, PerMonitor<"};
    for (const char* wanted : {"<?xml ", "Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"", levels[level], aware[dpi],
                               awareness[dpi], o.longPathAware ? ">true</longPathAware>" : "", o.utf8CodePage ? ">UTF-8</activeCodePage>" : ""}) {
      EXPECT_NE(text.find(wanted), std::string::npos) << wanted << "\n" << text;
    }
    EXPECT_EQ(text.find("<application") != std::string::npos, dpi != 0 || combination >= 12) << text;
  }
}

}  // namespace
}  // namespace corvane::builder
