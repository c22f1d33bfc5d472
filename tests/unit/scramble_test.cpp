#include "base/scramble.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Scrambled(const std::string& plain) {
  char out[2 * ScrambleAreaSize];
  EXPECT_TRUE(ScrambleText(plain.c_str(), out, sizeof(out)));
  return out;
}

TEST(Scramble, RoundTripsTextsUpToTheAreaLimit) {
  for (const std::string& plain :
       {std::string("a"), std::string("com.lumera.desktop.application.launch.LumeraDesktopMain"),
        std::string(16, 'V') + "x", std::string(255, 'z'), std::string("\xC3\xA9t\xE9")}) {
    const std::string stored = Scrambled(plain);
    EXPECT_EQ(stored.size(), 2 * plain.size());
    EXPECT_EQ(stored.find_first_not_of("0123456789ABCDEF"), std::string::npos) << stored;
    EXPECT_EQ(DescrambleText(stored.c_str()), plain);
  }
}

TEST(Scramble, StoredFormHidesThePlainText) {
  // The first byte is XORed with 'V' (0x56): 'c' 0x63 gives 0x35.
  EXPECT_EQ(Scrambled("c").substr(0, 2), "35");
  EXPECT_EQ(Scrambled("com").find("636F6D"), std::string::npos);
}

TEST(Scramble, EverySeventeenthByteIsLeftAsDecoded) {
  // 34 bytes of 0x41: positions 16 and 33 carry the key's zero byte.
  std::string hex;
  for (int i = 0; i < 34; ++i) hex += "41";
  const std::string plain = DescrambleText(hex.c_str());
  ASSERT_EQ(plain.size(), 34u);
  EXPECT_EQ(plain[16], 'A');
  EXPECT_EQ(plain[33], 'A');
  EXPECT_NE(plain[0], 'A');
  EXPECT_NE(plain[17], 'A');
}

TEST(Scramble, RefusesTextsThatCannotBeStored) {
  char out[2 * ScrambleAreaSize];
  EXPECT_FALSE(ScrambleText(std::string(256, 'a').c_str(), out, sizeof(out)));
  EXPECT_STREQ(out, "");
  char small[5];
  EXPECT_FALSE(ScrambleText("abc", small, sizeof(small)));
}

struct OddEntry {
  const char* name;
  std::string hex;
  size_t expectedLength;
};

class DescrambleOddEntries : public testing::TestWithParam<OddEntry> {};

// Entries the generator never writes still give a terminated text inside the area.
TEST_P(DescrambleOddEntries, StayInsideTheArea) {
  const char* result = DescrambleText(GetParam().hex.c_str());
  EXPECT_EQ(std::strlen(result), GetParam().expectedLength);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, DescrambleOddEntries,
    testing::Values(OddEntry{"Empty", "", 0}, OddEntry{"OddLength", "35A", 2},
                    OddEntry{"LowerCase", "3a3b", 2},
                    // 600 digits: only the first 255 bytes are decoded.
                    OddEntry{"MoreThan510Digits", std::string(600, '1'), 255}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Descramble, OddLengthPairsTheLastDigitWithTheTerminator) {
  // "3" followed by the terminator: 16 * 3 + (0 - 55) = -7, cut to 8 bits = 0xF9; not XORed.
  const char* result = DescrambleText("353");
  EXPECT_EQ(static_cast<unsigned char>(result[1]), 0xF9);
  EXPECT_EQ(result[0], 'c');
}

}  // namespace
