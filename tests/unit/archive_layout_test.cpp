#include "archives/archive_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"

namespace {

struct NameCase {
  const char* name;
  ArchiveNameProblem problem;
};

TEST(ArchiveNames, OnlyBareFileNamesInsideTheFolder) {
  const NameCase cases[] = {
      {"app.jar", ArchiveNameProblem::None},          {"lib-1.2.zip", ArchiveNameProblem::None},
      {"con.jar.bak", ArchiveNameProblem::Device},    {"COM7.jar", ArchiveNameProblem::Device},
      {"lpt0", ArchiveNameProblem::Device},           {"nul .jar", ArchiveNameProblem::Device},
      {"conout$.zip", ArchiveNameProblem::Device},    {"com10.jar", ArchiveNameProblem::None},
      {"", ArchiveNameProblem::Empty},                {"..", ArchiveNameProblem::DotName},
      {".", ArchiveNameProblem::DotName},             {"..\\evil.jar", ArchiveNameProblem::NotBare},
      {"sub/a.jar", ArchiveNameProblem::NotBare},     {"C:a.jar", ArchiveNameProblem::NotBare},
      {"a.jar.", ArchiveNameProblem::TrailingDotOrBlank}, {"a.jar ", ArchiveNameProblem::TrailingDotOrBlank},
      {"tab\there.jar", ArchiveNameProblem::ControlCharacter},
  };
  for (const NameCase& c : cases) EXPECT_EQ(ClassifyArchiveName(c.name), c.problem) << c.name;
  EXPECT_EQ(ClassifyArchiveName(std::string(200, 'a').c_str()), ArchiveNameProblem::None);
  EXPECT_EQ(ClassifyArchiveName(std::string(201, 'a').c_str()), ArchiveNameProblem::TooLong);
}

// A resource as the builder writes it.
std::string Entry(const std::string& name, uint32_t low, uint32_t high, const std::string& data, uint32_t size) {
  std::string out = name + std::string(1, '\0');
  for (uint32_t v : {low, high, size}) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
  }
  return out + data;
}
std::string Resource(int32_t count, const std::string& entries) {
  std::string out;
  for (int i = 0; i < 4; ++i) out += static_cast<char>(static_cast<uint32_t>(count) >> (8 * i));
  return out + entries;
}

struct Seen {
  std::vector<std::string> names, data;
  size_t stopAfter = 100;
};
bool Collect(const ArchiveEntryView& entry, void* context) {
  auto* seen = static_cast<Seen*>(context);
  seen->names.emplace_back(entry.name);
  seen->data.emplace_back(reinterpret_cast<const char*>(entry.data), entry.size);
  return seen->names.size() < seen->stopAfter;
}

struct LayoutCase {
  const char* name;
  std::string bytes;
  ArchiveLayoutResult result;
  int32_t count;
  std::vector<std::string> names;
};

class ArchiveLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(ArchiveLayout, IsUsedWholeOrNotAtAll) {
  const LayoutCase& c = GetParam();
  // The bytes are copied to a buffer of exactly their size, so any read past the end is caught by
  // the sanitizers and, without them, by the lengths the case asserts.
  std::vector<uint8_t> exact(c.bytes.begin(), c.bytes.end());
  Seen seen;
  int32_t count = -7;
  EXPECT_EQ(ReadArchiveLayout(exact.data(), exact.size(), &count, Collect, &seen), c.result);
  EXPECT_EQ(count, c.count);
  EXPECT_EQ(seen.names, c.names);
}

const std::string Two = Entry("a.jar", 1, 2, "AAA", 3) + Entry("b.zip", 3, 4, "", 0);

INSTANTIATE_TEST_SUITE_P(
    Cases, ArchiveLayout,
    testing::Values(LayoutCase{"TwoEntries", Resource(2, Two), ArchiveLayoutResult::Complete, 2, {"a.jar", "b.zip"}},
                    LayoutCase{"NoCount", std::string("\x01\x00", 2), ArchiveLayoutResult::Empty, 0, {}},
                    LayoutCase{"ZeroCount", Resource(0, Two), ArchiveLayoutResult::Empty, 0, {}},
                    LayoutCase{"NegativeCount", Resource(-3, Two), ArchiveLayoutResult::Empty, -3, {}},
                    // A count larger than the entries: the first two are not used either.
                    LayoutCase{"CountPastTheEnd", Resource(3, Two), ArchiveLayoutResult::Damaged, 3, {}},
                    LayoutCase{"NameWithoutItsZero", Resource(1, "a.jar"), ArchiveLayoutResult::Damaged, 1, {}},
                    LayoutCase{"HeaderCutShort", Resource(1, Entry("a.jar", 1, 2, "", 0).substr(0, 14)),
                               ArchiveLayoutResult::Damaged, 1, {}},
                    LayoutCase{"SizeThatLies", Resource(1, Entry("a.jar", 1, 2, "AAA", 4)), ArchiveLayoutResult::Damaged,
                               1, {}},
                    LayoutCase{"HugeSize", Resource(1, Entry("a.jar", 1, 2, "AAA", 0xFFFFFFFFu)),
                               ArchiveLayoutResult::Damaged, 1, {}},
                    LayoutCase{"TrailingBytesAreIgnored", Resource(1, Entry("a.jar", 1, 2, "AAA", 3) + "junk"),
                               ArchiveLayoutResult::Complete, 1, {"a.jar"}}),
    [](const testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

TEST(ArchiveLayoutEntries, CarryTheirTimeSizeAndData) {
  const std::string bytes = Resource(2, Two);
  std::vector<uint8_t> exact(bytes.begin(), bytes.end());
  std::vector<ArchiveEntryView> entries;
  int32_t count = 0;
  ASSERT_EQ(ReadArchiveLayout(
                exact.data(), exact.size(), &count,
                [](const ArchiveEntryView& entry, void* context) {
                  static_cast<std::vector<ArchiveEntryView>*>(context)->push_back(entry);
                  return true;
                },
                &entries),
            ArchiveLayoutResult::Complete);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].timeLow, 1u);
  EXPECT_EQ(entries[0].timeHigh, 2u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(entries[0].data), entries[0].size), "AAA");
  EXPECT_EQ(entries[1].size, 0u);
  // The visitor can stop early.
  Seen seen;
  seen.stopAfter = 1;
  ReadArchiveLayout(exact.data(), exact.size(), &count, Collect, &seen);
  EXPECT_EQ(seen.names, std::vector<std::string>{"a.jar"});
}

}  // namespace
