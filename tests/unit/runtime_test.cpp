// Finding a Java runtime: version rules, what an installed runtime's files and keys say, which of
// several is kept, where each search digit looks, and the paths jvm.dll is loaded with.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/runtime_candidate.h"
#include "runtime/runtime_paths.h"
#include "runtime/search_order.h"
#include "runtime/version_rule.h"

namespace {

TEST(VersionRules, AcceptOnlyWhenEveryRuleHolds) {
  const std::string nines(255, '9');
  const struct { std::string rules, candidate; bool accepted; } cases[] = {
      {"17", "1.8.0_202", false}, {">=1.8;<9", "1.8.0_202", true}, {">=1.8;<9", "9", false},
      {">=1.8;;<9", "11", false}, {">=11;<=21;>17", "17", false}, {"", "1.1", true}, {";;", "1.0", true},
      {"17;", "17.0.1", true}, {">9", "9", false}, {">9", "9.0.1", true}, {"=17", "17.0.1", false},
      {"=17", "17", true}, {"<=17", "17", true}, {"<=17", "17.0.1", false}, {"<", "1", true}, {"1.8", "<17", true},
      {"1.8.0_203", "1.8.0_202-b08", false}, {"1.100", "1.99", false}, {"3000", "2200", false}, {"<3000", "2200", true},
      {"=" + nines, "99999999999", true}, {"<99", nines, false}, {"1", nines + "9", false}};  // too long: empty
  for (const auto& c : cases) {
    EXPECT_EQ(VersionAccepted(c.rules.c_str(), c.candidate.c_str()), c.accepted) << c.rules << " " << c.candidate;
  }
  char rules[] = ">=1.8;<9";
  EXPECT_TRUE(!VersionAccepted(rules, "11") && std::string(rules) == ">=1.8;<9" && VersionAccepted(nullptr, "1"));
}

TEST(InstalledRuntimes, TheHighestVersionThatPassesRanksFirst) {
  const struct { const char* rules; const char* version; bool accepted; int64_t rank; } cases[] = {
      {"17", "17.0.9", true, 17000900}, {">=11;<21", "21.0.1", false, 21000100}, {"<9", "9.0.4", false, 9000400},
      {"=1.8.0_392", "8.0.392.8", true, 1080392},  // Java 8 named the newer installers' way
      {"", "", true, -1}, {"<9", nullptr, false, -1}};
  for (const auto& c : cases) {
    int64_t rank = 12345;
    EXPECT_EQ(RankCandidateVersion(c.rules, c.version, &rank), c.accepted) << c.version;
    EXPECT_EQ(rank, c.rank) << c.version;
  }
  RuntimeChoice choice{};
  EXPECT_TRUE(OfferRuntime(&choice, -1, "u\\jvm.dll", "u"));  // an unknown version is still a choice
  EXPECT_TRUE(OfferRuntime(&choice, 17000900, "a\\jvm.dll", "a"));
  EXPECT_FALSE(OfferRuntime(&choice, 11000000, "b\\jvm.dll", "b"));
  EXPECT_TRUE(OfferRuntime(&choice, 21000100, "c\\jvm.dll", "c"));
  EXPECT_FALSE(OfferRuntime(&choice, 21000100, "d\\jvm.dll", "d"));  // of equal ones the first
  const std::string tooLong(PathCapacity, 'x');
  EXPECT_FALSE(OfferRuntime(&choice, 3, tooLong.c_str(), "e") || OfferRuntime(&choice, 3, "e", tooLong.c_str()));
  EXPECT_EQ(std::string(choice.jvmDll) + " " + choice.home, "c\\jvm.dll c");
}

TEST(InstalledRuntimes, OnlyA64BitImageIsTakenAndAKeyNameGivesTheVersion) {
  for (const auto& [machine, keep] : {std::pair{ImageMachineAmd64, 0x86}, {ImageMachineI386, 0x86}, {ImageMachineAmd64, 0x84}}) {
    std::vector<unsigned char> bytes(0x86, 0);  // "MZ", the offset 0x80 at 0x3C, "PE\0\0" and the machine there
    bytes[0] = 'M', bytes[1] = 'Z', bytes[0x3C] = 0x80, bytes[0x80] = 'P', bytes[0x81] = 'E';
    std::memcpy(&bytes[0x84], &machine, 2);
    bytes.resize(keep);
    const uint32_t offset = ImageHeaderOffset(bytes.data(), DosHeaderSize);
    EXPECT_EQ(ImageMachine(&bytes[offset], bytes.size() - offset), keep == 0x86 ? machine : 0);
  }
  for (const auto& [key, version] : {std::pair{"1.8.0_392", "1.8.0_392"}, {"zulu-21-jre", "21"}, {"hotspot", ""}}) {
    char out[16] = "stale";
    EXPECT_EQ(KeyNameVersion(key, out, sizeof(out)), *version != 0);
    EXPECT_STREQ(out, version) << key;
  }
}

TEST(RuntimePaths, AreFullBackslashPathsThatFit) {
  const std::pair<const char*, const char*> cases[] = {
      {"jre/bin/server/jvm.dll", "C:\\app\\jre\\bin\\server\\jvm.dll"}, {"D:\\java\\jvm.dll", "D:\\java\\jvm.dll"},
      {"\\\\server\\java\\jvm.dll", "\\\\server\\java\\jvm.dll"}, {"/java/jvm.dll", "\\java\\jvm.dll"}};
  char load[PathCapacity], bin[PathCapacity];
  for (const auto& [jvmDll, expected] : cases) {
    ASSERT_TRUE(RuntimeLoadPath("C:\\app", jvmDll, load)) << jvmDll;
    EXPECT_STREQ(load, expected);
    EXPECT_TRUE(RuntimeBinFolder(load, bin) && std::string(bin) == std::string(expected) + "\\..\\..\\") << bin;
  }
  EXPECT_TRUE(RuntimeLoadPath("C:\\", "jvm.dll", load) && std::string(load) == "C:\\jvm.dll");
  EXPECT_FALSE(RuntimeLoadPath("C:\\a", std::string(PathCapacity - 5, 'x').c_str(), load));  // "C:\a\" and it: 260
  const std::string nearlyFull = "C:\\" + std::string(PathCapacity - 10, 'x');  // 253 characters and 7
  EXPECT_TRUE(!RuntimeBinFolder(nearlyFull.c_str(), bin) && RuntimeBinFolder(nearlyFull.c_str() + 1, bin));
}

}  // namespace
