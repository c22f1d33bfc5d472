#include "runtime/runtime_candidate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// ---------------------------------------------------------------------------------------------
// Image headers

// The first bytes of a file: a DOS header naming `offset`, then "PE\0\0" and `machine` there.
std::vector<unsigned char> ImageBytes(uint32_t offset, uint16_t machine, size_t keep = SIZE_MAX) {
  std::vector<unsigned char> bytes(offset + ImageSignatureSize, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  for (int i = 0; i < 4; ++i) bytes[0x3C + i] = static_cast<unsigned char>(offset >> (8 * i));
  if (offset + 4 <= bytes.size()) std::memcpy(bytes.data() + offset, "PE\0\0", 4);
  bytes[offset + 4] = static_cast<unsigned char>(machine);
  bytes[offset + 5] = static_cast<unsigned char>(machine >> 8);
  if (keep < bytes.size()) bytes.resize(keep);
  return bytes;
}

struct ImageCase {
  const char* name;
  std::vector<unsigned char> bytes;
  uint16_t machine;  // 0: no image
};

class ImageHeaders : public ::testing::TestWithParam<ImageCase> {};

TEST_P(ImageHeaders, TellTheMachineOrNoImage) {
  const std::vector<unsigned char>& bytes = GetParam().bytes;
  const uint32_t offset = ImageHeaderOffset(bytes.data(), std::min(bytes.size(), DosHeaderSize));
  uint16_t machine = 0;
  if (offset != 0 && offset < bytes.size()) machine = ImageMachine(bytes.data() + offset, bytes.size() - offset);
  EXPECT_EQ(machine, GetParam().machine);
}

std::vector<unsigned char> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<unsigned char> WithSignature(std::vector<unsigned char> bytes, const char* signature) {
  std::memcpy(bytes.data() + 0x80, signature, 4);
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageHeaders,
    ::testing::Values(ImageCase{"Amd64", ImageBytes(0x80, ImageMachineAmd64), ImageMachineAmd64},
                      ImageCase{"I386", ImageBytes(0x80, ImageMachineI386), ImageMachineI386},
                      ImageCase{"FarOffset", ImageBytes(0x2000, ImageMachineAmd64), ImageMachineAmd64},
                      ImageCase{"Empty", {}, 0}, ImageCase{"Text", Bytes(std::string(200, 'x')), 0},
                      ImageCase{"DosHeaderCut", ImageBytes(0x80, ImageMachineAmd64, 40), 0},
                      ImageCase{"SignatureCut", ImageBytes(0x80, ImageMachineAmd64, 0x84), 0},
                      ImageCase{"OffsetInsideDosHeader", ImageBytes(0x3C, ImageMachineAmd64), 0},
                      ImageCase{"OffsetPastTheEnd", ImageBytes(0x80, ImageMachineAmd64, 0x50), 0},
                      ImageCase{"WrongSignature", WithSignature(ImageBytes(0x80, ImageMachineAmd64), "NE\0\0"), 0}),
    CaseName<ImageCase>);

// ---------------------------------------------------------------------------------------------
// release files

struct ReleaseCase {
  const char* name;
  std::string text;
  bool complete;
  std::string version;  // "" when none is read
};

class ReleaseFiles : public ::testing::TestWithParam<ReleaseCase> {};

TEST_P(ReleaseFiles, GiveTheirJavaVersion) {
  const ReleaseCase& c = GetParam();
  char out[16];
  std::memset(out, '#', sizeof(out));
  EXPECT_EQ(ReleaseJavaVersion(c.text.data(), c.text.size(), c.complete, out, sizeof(out)), !c.version.empty());
  EXPECT_EQ(std::string(out), c.version);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReleaseFiles,
    ::testing::Values(
        ReleaseCase{"Today",
                    "IMPLEMENTOR=\"Eclipse Adoptium\"\nJAVA_VERSION=\"17.0.9\"\nJAVA_VERSION_DATE=\"2023-10-17\"\n",
                    true, "17.0.9"},
        ReleaseCase{"DateComesFirst", "JAVA_VERSION_DATE=\"2023-10-17\"\r\nJAVA_VERSION=\"21.0.1\"\r\n", true,
                    "21.0.1"},
        ReleaseCase{"UnquotedWithBlanks", "  JAVA_VERSION = 11.0.2 \t\n", true, "11.0.2"},
        ReleaseCase{"ByteOrderMark", "\xEF\xBB\xBFJAVA_VERSION=\"17\"", true, "17"},
        ReleaseCase{"LastLineWithoutLineEnd", "OS_ARCH=\"amd64\"\nJAVA_VERSION=\"17.0.2\"", true, "17.0.2"},
        ReleaseCase{"LastLineOfACutText", "OS_ARCH=\"amd64\"\nJAVA_VERSION=\"17.0.2\"", false, ""},
        ReleaseCase{"WholeLineOfACutText", "JAVA_VERSION=\"17.0.2\"\nMODULES=\"java.base java.", false, "17.0.2"},
        ReleaseCase{"Missing", "IMPLEMENTOR=\"Oracle\"\nJAVA_RUNTIME_VERSION=\"17+35\"\n", true, ""},
        ReleaseCase{"EmptyValue", "JAVA_VERSION=\"\"\n", true, ""},
        ReleaseCase{"UnbalancedQuote", "JAVA_VERSION=\"17.0.2\n", true, ""},
        ReleaseCase{"TooLongForTheBuffer", "JAVA_VERSION=\"17.0.2.0.0.0.0.0.0\"\n", true, ""},
        ReleaseCase{"NulInTheValue", std::string("JAVA_VERSION=\"17\0.2\"\n", 22), true, ""}),
    CaseName<ReleaseCase>);

// ---------------------------------------------------------------------------------------------
// Key names

struct KeyNameCase {
  const char* name;
  const char* keyName;
  std::string version;
};

class KeyNames : public ::testing::TestWithParam<KeyNameCase> {};

TEST_P(KeyNames, CarryTheirVersion) {
  char out[16] = "stale";
  EXPECT_EQ(KeyNameVersion(GetParam().keyName, out, sizeof(out)), !GetParam().version.empty());
  EXPECT_EQ(std::string(out), GetParam().version);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeyNames,
    ::testing::Values(KeyNameCase{"Version", "17.0.9.9", "17.0.9.9"}, KeyNameCase{"OldStyle", "1.8.0_392", "1.8.0_392"},
                      KeyNameCase{"Zulu", "zulu-17", "17"}, KeyNameCase{"ZuluRuntime", "zulu-21-jre", "21"},
                      KeyNameCase{"Liberica", "jdk-21", "21"}, KeyNameCase{"NoDigit", "hotspot", ""},
                      KeyNameCase{"TooLong", "17.0.0.0.0.0.0.0.0", ""}),
    CaseName<KeyNameCase>);

// ---------------------------------------------------------------------------------------------
// Version rules and ranks

struct RankCase {
  const char* name;
  const char* rules;
  const char* version;
  bool accepted;
  int64_t rank;
};

class CandidateRanks : public ::testing::TestWithParam<RankCase> {};

TEST_P(CandidateRanks, FollowTheRulesAndTheirComparison) {
  int64_t rank = 12345;
  EXPECT_EQ(RankCandidateVersion(GetParam().rules, GetParam().version, &rank), GetParam().accepted);
  EXPECT_EQ(rank, GetParam().rank);
}

INSTANTIATE_TEST_SUITE_P(Cases, CandidateRanks,
                         ::testing::Values(RankCase{"Passes", "17", "17.0.9", true, 17000900},
                                           RankCase{"Fails", "17", "11.0.21", false, 11002100},
                                           RankCase{"EveryRuleMustHold", ">=11;<21", "21.0.1", false, 21000100},
                                           RankCase{"NoRules", "", "8", true, 1080000},
                                           RankCase{"JavaEightNamedTheNewWay", "=1.8.0_392", "8.0.392.8", true,
                                                    1080392},
                                           RankCase{"JavaEightBelowNine", ">=1.8;<9", "8", true, 1080000},
                                           RankCase{"NineStaysNine", "<9", "9.0.4", false, 9000400},
                                           RankCase{"TwoDigitsStay", "17", "21", true, 21000000},
                                           RankCase{"UnknownWithoutRule", "", "", true, -1},
                                           RankCase{"UnknownWithOnlySeparators", ";;", nullptr, true, -1},
                                           RankCase{"UnknownWithARule", "<9", "", false, -1}),
                         CaseName<RankCase>);

TEST(RuntimeChoiceTest, KeepsTheHighestAndOfEqualOnesTheFirst) {
  RuntimeChoice choice{};
  EXPECT_TRUE(OfferRuntime(&choice, 17000900, "a\\jvm.dll", "a"));
  EXPECT_FALSE(OfferRuntime(&choice, 11000000, "b\\jvm.dll", "b"));
  EXPECT_TRUE(OfferRuntime(&choice, 21000100, "c\\jvm.dll", "c"));
  EXPECT_FALSE(OfferRuntime(&choice, 21000100, "d\\jvm.dll", "d"));
  EXPECT_FALSE(OutranksChoice(choice, 21000100));
  EXPECT_TRUE(OutranksChoice(choice, 21000101));
  EXPECT_STREQ(choice.jvmDll, "c\\jvm.dll");
  EXPECT_STREQ(choice.home, "c");
  EXPECT_EQ(choice.rank, 21000100);

  const std::string tooLong(PathCapacity, 'x');
  EXPECT_FALSE(OfferRuntime(&choice, 30000000, tooLong.c_str(), "e"));
  EXPECT_FALSE(OfferRuntime(&choice, 30000000, "e\\jvm.dll", tooLong.c_str()));
  EXPECT_STREQ(choice.home, "c");

  RuntimeChoice unknown{};
  EXPECT_TRUE(OfferRuntime(&unknown, -1, "u\\jvm.dll", "u"));  // an unknown version is still a choice
  EXPECT_TRUE(OutranksChoice(unknown, 0));
}

}  // namespace
