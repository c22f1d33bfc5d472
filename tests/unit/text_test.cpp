#include "base/text.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// ---------------------------------------------------------------------------------------------
// AppendText

struct AppendCase {
  const char* name;
  std::vector<std::string> appends;
  uint32_t capacity;
};

class AppendTextGrowth : public ::testing::TestWithParam<AppendCase> {};

TEST_P(AppendTextGrowth, GrowsByTheLargerOf1024AndFourTimesTheAppendedLength) {
  const AppendCase& c = GetParam();
  ScopedTextBuffer buffer;
  std::string expected;
  for (const std::string& piece : c.appends) {
    ASSERT_TRUE(AppendText(&buffer, piece.c_str()));
    expected += piece;
  }
  ASSERT_NE(buffer.text, nullptr);
  EXPECT_EQ(buffer.capacity, c.capacity);
  EXPECT_EQ(buffer.length, expected.size());
  EXPECT_EQ(std::strlen(buffer.text), expected.size());
  EXPECT_EQ(std::string(buffer.text), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AppendTextGrowth,
    ::testing::Values(
        AppendCase{"ShortTextToNewBuffer", {"abc"}, 1024},
        AppendCase{"QuarterKilobyteStillGetsTheMinimum", {std::string(256, 'x')}, 1024},
        AppendCase{"LongerTextGetsFourTimesItsLength", {std::string(257, 'x')}, 1028},
        // Length 800 in 1024, then 300 more: grows by 1200, not by a factor of the current size.
        AppendCase{"GrowthBy1200",
                   {std::string(200, 'a'), std::string(200, 'b'), std::string(200, 'c'),
                    std::string(200, 'd'), std::string(300, 'e')},
                   2224},
        AppendCase{"FillsUpToCapacityMinusOneWithoutGrowing",
                   {std::string(250, 'a'), std::string(250, 'b'), std::string(250, 'c'),
                    std::string(250, 'd'), std::string(23, 'e')},
                   1024},
        AppendCase{"OneMoreCharacterGrowsByTheMinimum",
                   {std::string(250, 'a'), std::string(250, 'b'), std::string(250, 'c'),
                    std::string(250, 'd'), std::string(24, 'e')},
                   2048}),
    CaseName<AppendCase>);

TEST(AppendText, NullOrEmptyTextLeavesANewBufferWithoutBlock) {
  ScopedTextBuffer buffer;
  EXPECT_TRUE(AppendText(&buffer, nullptr));
  EXPECT_TRUE(AppendText(&buffer, ""));
  EXPECT_EQ(buffer.text, nullptr);
  EXPECT_EQ(buffer.length, 0u);
  EXPECT_EQ(buffer.capacity, 0u);
}

TEST(AppendText, NullOrEmptyTextLeavesExistingTextAlone) {
  ScopedTextBuffer buffer;
  ASSERT_TRUE(AppendText(&buffer, "abc"));
  EXPECT_TRUE(AppendText(&buffer, nullptr));
  EXPECT_TRUE(AppendText(&buffer, ""));
  EXPECT_STREQ(buffer.text, "abc");
  EXPECT_EQ(buffer.length, 3u);
  EXPECT_EQ(buffer.capacity, 1024u);
}

TEST(AppendText, BufferMayAppendItsOwnTextWhileGrowing) {
  ScopedTextBuffer buffer;
  for (char c : {'a', 'b', 'c', 'd'}) ASSERT_TRUE(AppendText(&buffer, std::string(200, c).c_str()));
  const std::string before(buffer.text);
  ASSERT_EQ(buffer.capacity, 1024u);
  ASSERT_TRUE(AppendText(&buffer, buffer.text));
  EXPECT_EQ(buffer.capacity, 1024u + 3200u);
  EXPECT_EQ(buffer.length, 1600u);
  EXPECT_EQ(std::string(buffer.text), before + before);
}

// Sizes near the 32-bit limit cannot be reached with real memory; the buffer below claims a length
// and capacity it does not have, which is safe only because a refused append must not touch it.
struct NearLimitCase {
  const char* name;
  uint32_t length;
  uint32_t capacity;
  std::string text;
};

class AppendTextNearLimit : public ::testing::TestWithParam<NearLimitCase> {};

TEST_P(AppendTextNearLimit, RefusesACapacityBeyond32BitsAndKeepsTheBuffer) {
  const NearLimitCase& c = GetParam();
  char* block = static_cast<char*>(std::malloc(16));
  ASSERT_NE(block, nullptr);
  std::strcpy(block, "kept");
  TextBuffer buffer{block, c.length, c.capacity};
  EXPECT_FALSE(AppendText(&buffer, c.text.c_str()));
  EXPECT_EQ(buffer.text, block);
  EXPECT_EQ(buffer.length, c.length);
  EXPECT_EQ(buffer.capacity, c.capacity);
  EXPECT_STREQ(block, "kept");
  std::free(block);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AppendTextNearLimit,
    ::testing::Values(
        // length + n wraps around in 32 bits and would look as if it fitted.
        NearLimitCase{"LengthPlusTextWraps", UINT32_MAX - 3, UINT32_MAX - 2, "abcdef"},
        // length + n fits, but capacity + 1024 does not.
        NearLimitCase{"GrownCapacityWraps", UINT32_MAX - 10, UINT32_MAX - 5, "0123456789"},
        // 1000 characters ask for 4000 more bytes; the capacity sits 3999 below the limit.
        NearLimitCase{"FourTimesTextPassesLimit", UINT32_MAX - 4000, UINT32_MAX - 3999,
                      std::string(1000, 'z')}),
    CaseName<NearLimitCase>);

TEST(FreeTextBuffer, ZeroesTheBufferSoItCanBeReused) {
  TextBuffer buffer{nullptr, 0, 0};
  ASSERT_TRUE(AppendText(&buffer, "abc"));
  FreeTextBuffer(&buffer);
  EXPECT_EQ(buffer.text, nullptr);
  EXPECT_EQ(buffer.length, 0u);
  EXPECT_EQ(buffer.capacity, 0u);
  ASSERT_TRUE(AppendText(&buffer, "de"));
  EXPECT_STREQ(buffer.text, "de");
  EXPECT_EQ(buffer.capacity, 1024u);
  FreeTextBuffer(&buffer);
}

// ---------------------------------------------------------------------------------------------
// NextToken

struct TokenCase {
  const char* name;
  const char* text;
  const char* delimiters;
  std::vector<std::string> tokens;  // then null
};

class NextTokenSequence : public ::testing::TestWithParam<TokenCase> {};

TEST_P(NextTokenSequence, YieldsTheNonEmptyFieldsThenNull) {
  const TokenCase& c = GetParam();
  std::vector<char> text(c.text, c.text + std::strlen(c.text) + 1);
  char* position = nullptr;
  for (const std::string& expected : c.tokens) {
    const char* token = NextToken(text.data(), c.delimiters, &position);
    ASSERT_NE(token, nullptr) << "expected " << expected;
    EXPECT_EQ(std::string(token), expected);
    // The token lies inside the caller's text, which is cut in place.
    EXPECT_GE(token, text.data());
    EXPECT_LT(token, text.data() + text.size());
  }
  EXPECT_EQ(NextToken(text.data(), c.delimiters, &position), nullptr);
  EXPECT_EQ(position, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NextTokenSequence,
    ::testing::Values(TokenCase{"EmptyFieldsGiveNoToken", ";;a;;b;", ";", {"a", "b"}},
                      TokenCase{"EmptyText", "", ";", {}},
                      TokenCase{"OnlyDelimiters", ";;;", ";", {}},
                      TokenCase{"SingleToken", "abc", ";", {"abc"}},
                      TokenCase{"NoDelimiterAtEnds", "a;b;c", ";", {"a", "b", "c"}},
                      TokenCase{"SpacesBelongToTokens", " a ; b", ";", {" a ", " b"}},
                      TokenCase{"SeveralDelimiters", "a; b;;c ", "; ", {"a", "b", "c"}},
                      TokenCase{"EmptyDelimiterSetGivesWholeText", "a;b", "", {"a;b"}}),
    CaseName<TokenCase>);

TEST(NextToken, NullTextClearsThePosition) {
  char other[] = "x";
  char* position = other;
  EXPECT_EQ(NextToken(nullptr, ";", &position), nullptr);
  EXPECT_EQ(position, nullptr);
}

TEST(NextToken, TokenizedTextReadsAsItsFirstToken) {
  char text[] = ";;a;;b;";
  char* position = nullptr;
  while (NextToken(text, ";", &position) != nullptr) {
  }
  EXPECT_STREQ(text + 2, "a");
  EXPECT_STREQ(text + 5, "b");
}

TEST(NextToken, StartsAgainWhenThePositionWasCleared) {
  // The whole state is the caller's position: after the final null the next call begins anew.
  char text[] = "a;b";
  char* position = nullptr;
  EXPECT_STREQ(NextToken(text, ";", &position), "a");
  EXPECT_STREQ(NextToken(text, ";", &position), "b");
  EXPECT_EQ(NextToken(text, ";", &position), nullptr);
  EXPECT_STREQ(NextToken(text, ";", &position), "a");
}

TEST(NextToken, TwoTextsCanBeTokenizedInterleaved) {
  char first[] = "a;b";
  char second[] = "x;y";
  char* p1 = nullptr;
  char* p2 = nullptr;
  EXPECT_STREQ(NextToken(first, ";", &p1), "a");
  EXPECT_STREQ(NextToken(second, ";", &p2), "x");
  EXPECT_STREQ(NextToken(first, ";", &p1), "b");
  EXPECT_STREQ(NextToken(second, ";", &p2), "y");
  EXPECT_EQ(NextToken(first, ";", &p1), nullptr);
  EXPECT_EQ(NextToken(second, ";", &p2), nullptr);
}

// ---------------------------------------------------------------------------------------------
// SplitCommandLine

struct SplitCase {
  const char* name;
  const char* text;
  std::vector<std::string> arguments;
};

class SplitCommandLineCases
    : public ::testing::TestWithParam<std::tuple<SplitCase, bool>> {};

TEST_P(SplitCommandLineCases, GivesTheArgumentsInOrder) {
  const auto& [c, reserveFirst] = GetParam();
  std::vector<std::optional<std::string>> expected;
  if (reserveFirst) expected.push_back(std::nullopt);
  for (const std::string& argument : c.arguments) expected.push_back(argument);

  int count = 7;
  char* stale[7] = {};
  char** array = stale;  // both must be replaced
  SplitCommandLine(c.text, &count, &array, reserveFirst);

  std::vector<std::optional<std::string>> actual;
  for (int i = 0; i < count && array != stale; ++i) {
    if (array[i] == nullptr) {
      actual.push_back(std::nullopt);
    } else {
      actual.push_back(std::string(array[i]));
    }
  }
  EXPECT_EQ(actual, expected);
  ASSERT_EQ(count, static_cast<int>(expected.size()));
  ASSERT_NE(array, stale);
  if (count == 0) {
    EXPECT_EQ(array, nullptr);
  }
  FreeArgumentArray(count, array);
}

const SplitCase kSplitCases[] = {
    {"NullText", nullptr, {}},
    {"EmptyText", "", {}},
    {"OneWord", "abc", {"abc"}},
    {"TwoWords", "a b", {"a", "b"}},
    {"TwoSpacesGiveEmptyArgument", "a  b", {"a", "", "b"}},
    {"TrailingSpaceGivesNoArgument", "a ", {"a"}},
    {"TrailingSpacesGiveEmptyArgumentsButTheLast", "a   ", {"a", "", ""}},
    {"OnlySpacesGiveOneEmptyArgument", "   ", {""}},
    {"OneSpaceGivesOneEmptyArgument", " ", {""}},
    {"LeadingSpacesAreSkipped", "   a b", {"a", "b"}},
    {"TabIsAnOrdinaryCharacter", "a\tb c", {"a\tb", "c"}},
    {"QuotedPathKeepsSpacesAndBackslashes", "\"C:\\Program Files\\App\\run.exe\" x",
     {"C:\\Program Files\\App\\run.exe", "x"}},
    {"QuotedMiddlePartStaysOneArgument", "-Dname=\"a b\" -Dx=1", {"-Dname=a b", "-Dx=1"}},
    {"BackslashQuoteGivesQuote", "a\\\"b", {"a\"b"}},
    {"EscapedQuoteDoesNotOpenQuoting", "\\\"a b", {"\"a", "b"}},
    {"TwoBackslashesStayTwo", "a\\\\b", {"a\\\\b"}},
    {"QuotedTokenLosesItsLastCharacterWhateverItIs", "\"abc\"def", {"abcde"}},
    {"LoneQuoteGivesEmptyArgument", "\"", {""}},
    {"TwoQuotesGiveEmptyArgument", "\"\" x", {"", "x"}},
    {"UnclosedQuoteAtEndLosesLastCharacter", "a \"b c", {"a", "b "}},
    {"TrailingBackslashIsDropped", "C:\\dir\\", {"C:\\dir"}},
    {"OpenQuoteEndingInSpaceGivesNoArgument", "a \"b c ", {"a"}},
    {"BackslashDoesNotProtectSpace", "a\\ b", {"a", "b"}},
    {"QuotedArgumentBetweenOthers", "x \"a  b\" y", {"x", "a  b", "y"}},
};

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitCommandLineCases,
    ::testing::Combine(::testing::ValuesIn(kSplitCases), ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<SplitCase, bool>>& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) ? "_ReserveFirst" : "_NoReserve");
    });

TEST(SplitCommandLine, ReserveFirstOnEmptyTextGivesOneNullEntry) {
  int count = 0;
  char** array = nullptr;
  SplitCommandLine("", &count, &array, true);
  ASSERT_EQ(count, 1);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(array[0], nullptr);
  FreeArgumentArray(count, array);
}

TEST(SplitCommandLine, ArgumentsAreSeparateBlocksTheCallerMayKeep) {
  int count = 0;
  char** array = nullptr;
  SplitCommandLine("one two", &count, &array, false);
  ASSERT_EQ(count, 2);
  char* kept = array[1];
  array[1] = nullptr;
  FreeArgumentArray(count, array);
  EXPECT_STREQ(kept, "two");
  std::free(kept);
}

// A text with more arguments than an int counts. Real memory for 2^31 arguments is out of reach,
// so one chunk of 1 MiB is mapped some two thousand times back to back, followed by a private
// page with a short tail that decides the exact count. Every space in a chunk ends one argument.
class HugeCommandLine {
 public:
  static constexpr size_t kPage = 4096;
  static constexpr size_t kChunkSize = 264 * kPage;
  static constexpr size_t kSpacesPerChunk = 1081311;  // 2^31 - 2 == 1986 * 1081311
  static constexpr size_t kChunks = 1986;

  HugeCommandLine() {
    static_assert(kChunks * kSpacesPerChunk == static_cast<size_t>(INT_MAX) - 1);
    const size_t total = kChunks * kChunkSize + kPage;
    void* region =
        mmap(nullptr, total, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (region == MAP_FAILED) return;
    base_ = static_cast<char*>(region);
    size_ = total;
    const int fd = memfd_create("corvane-chunk", 0);
    if (fd < 0 || ftruncate(fd, kChunkSize) != 0) {
      if (fd >= 0) close(fd);
      return;
    }
    std::vector<char> chunk(kChunkSize, ' ');
    std::memset(chunk.data(), 'a', kChunkSize - kSpacesPerChunk);
    bool ok = pwrite(fd, chunk.data(), kChunkSize, 0) == static_cast<ssize_t>(kChunkSize);
    for (size_t i = 0; ok && i < kChunks; ++i) {
      ok = mmap(base_ + i * kChunkSize, kChunkSize, PROT_READ, MAP_SHARED | MAP_FIXED, fd, 0) !=
           MAP_FAILED;
    }
    close(fd);
    if (!ok) return;
    tail_ = static_cast<char*>(mmap(base_ + kChunks * kChunkSize, kPage, PROT_READ | PROT_WRITE,
                                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0));
    if (tail_ == MAP_FAILED) tail_ = nullptr;
  }
  ~HugeCommandLine() {
    if (base_ != nullptr) munmap(base_, size_);
  }
  bool ready() const { return tail_ != nullptr; }
  const char* text() const { return base_; }
  // The chunks end with a space; a tail without a trailing space adds one argument per word.
  void SetTail(const char* tail) { std::strcpy(tail_, tail); }

 private:
  char* base_ = nullptr;
  size_t size_ = 0;
  char* tail_ = nullptr;
};

TEST(SplitCommandLine, RefusesMoreArgumentsThanAnIntCounts) {
  HugeCommandLine line;
  if (!line.ready()) GTEST_SKIP() << "cannot map a 2 GiB text here";

  struct Case {
    const char* tail;
    bool reserveFirst;
    const char* why;
  };
  const Case cases[] = {
      {"a", true, "INT_MAX arguments leave no room for the reserved entry"},
      {"a a", false, "INT_MAX + 1 arguments"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    line.SetTail(c.tail);
    int count = 5;
    char* dummy = nullptr;
    char** array = &dummy;
    SplitCommandLine(line.text(), &count, &array, c.reserveFirst);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(array, nullptr);
    FreeArgumentArray(count, array);
  }
}

// ---------------------------------------------------------------------------------------------
// UnescapeArgument

struct UnescapeCase {
  const char* input;
  const char* output;
};

class UnescapeArgumentCases : public ::testing::TestWithParam<UnescapeCase> {};

TEST_P(UnescapeArgumentCases, RewritesInPlace) {
  std::string text = GetParam().input;
  UnescapeArgument(text.data());
  EXPECT_STREQ(text.c_str(), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(Cases, UnescapeArgumentCases,
                         ::testing::Values(UnescapeCase{"", ""}, UnescapeCase{"plain", "plain"},
                                           UnescapeCase{"\"quoted\"", "quoted"},
                                           UnescapeCase{"a\\\"b", "a\"b"},
                                           UnescapeCase{"a\\\\b", "a\\\\b"},
                                           UnescapeCase{"C:\\dir", "C:\\dir"},
                                           UnescapeCase{"C:\\dir\\", "C:\\dir"},
                                           UnescapeCase{"\\", ""},
                                           UnescapeCase{"\\\\\\\"", "\\\\\""},
                                           UnescapeCase{"\\\\\\", "\\\\"}));

TEST(UnescapeArgument, NullTextIsIgnored) { UnescapeArgument(nullptr); }

// ---------------------------------------------------------------------------------------------
// JoinPath

struct JoinCase {
  const char* name;
  std::string first;
  std::string second;
  std::optional<std::string> result;  // nullopt: refused
};

class JoinPathCases : public ::testing::TestWithParam<JoinCase> {};

TEST_P(JoinPathCases, JoinsWithOneBackslashOrRefusesWhatDoesNotFit) {
  const JoinCase& c = GetParam();
  // The destination holds PathCapacity characters; the guard behind it must stay untouched.
  std::vector<char> memory(PathCapacity + 64, '#');
  char* destination = memory.data();
  char* answer = JoinPath(destination, c.first.c_str(), c.second.c_str());
  if (c.result) {
    EXPECT_EQ(answer, destination);
    EXPECT_EQ(std::string(destination), *c.result);
  } else {
    EXPECT_EQ(answer, nullptr);
    EXPECT_STREQ(destination, "");
  }
  for (size_t i = PathCapacity; i < memory.size(); ++i) {
    ASSERT_EQ(memory[i], '#') << "written past the destination at " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JoinPathCases,
    ::testing::Values(
        JoinCase{"AddsBackslash", "C:\\jre", "bin", "C:\\jre\\bin"},
        JoinCase{"KeepsExistingBackslash", "C:\\jre\\", "bin", "C:\\jre\\bin"},
        JoinCase{"SlashIsNotABackslash", "C:/jre/", "bin", "C:/jre/\\bin"},
        JoinCase{"EmptySecondPart", "C:\\jre", "", "C:\\jre\\"},
        JoinCase{"ExactlyFitsWithAddedBackslash", std::string(255, 'x'), "abc",
                 std::string(255, 'x') + "\\abc"},
        JoinCase{"OneTooLongWithAddedBackslash", std::string(256, 'x'), "abc", std::nullopt},
        JoinCase{"ExactlyFitsWithOwnBackslash", std::string(255, 'x') + "\\", "abc",
                 std::string(255, 'x') + "\\abc"},
        JoinCase{"OneTooLongWithOwnBackslash", std::string(256, 'x') + "\\", "abc", std::nullopt},
        JoinCase{"FarTooLong", "C:\\jre", std::string(1000, 'y'), std::nullopt}),
    CaseName<JoinCase>);

TEST(JoinPath, DestinationMayBeTheFirstPart) {
  char path[PathCapacity] = "C:\\jre";
  EXPECT_EQ(JoinPath(path, path, "bin"), path);
  EXPECT_STREQ(path, "C:\\jre\\bin");
}

TEST(JoinPath, DestinationMayBeTheSecondPart) {
  char path[PathCapacity] = "jvm.dll";
  EXPECT_EQ(JoinPath(path, "C:\\jre\\bin", path), path);
  EXPECT_STREQ(path, "C:\\jre\\bin\\jvm.dll");
}

TEST(JoinPath, MissingPartIsRefused) {
  char path[PathCapacity] = "old";
  EXPECT_EQ(JoinPath(path, nullptr, "bin"), nullptr);
  EXPECT_STREQ(path, "");
  std::strcpy(path, "old");
  EXPECT_EQ(JoinPath(path, "C:\\jre", nullptr), nullptr);
  EXPECT_STREQ(path, "");
}

// ---------------------------------------------------------------------------------------------
// CanOpenFile, CopyText

TEST(CanOpenFile, TellsAnExistingFileFromAMissingOne) {
  char name[] = "/tmp/corvane-text-test-XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_TRUE(CanOpenFile(name));
  ASSERT_EQ(unlink(name), 0);
  EXPECT_FALSE(CanOpenFile(name));
  EXPECT_FALSE(CanOpenFile(nullptr));
  EXPECT_FALSE(CanOpenFile(""));
}

TEST(CopyText, GivesAnOwnedCopy) {
  const char original[] = "abc";
  HeapText copy(CopyText(original));
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy.get(), original);
  EXPECT_STREQ(copy.get(), "abc");
  HeapText empty(CopyText(nullptr));
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty.get(), "");
}

}  // namespace
