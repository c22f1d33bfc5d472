#include "ui/output_ring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Text(const OutputRingRecord& ring) {
  EXPECT_EQ(std::strlen(ring.text), ring.fill);
  return std::string(ring.text, ring.fill);
}

void Fill(OutputRingRecord* ring, const std::string& text) {
  *ring = {};
  AppendToRing(ring, text.data(), text.size());
  ASSERT_EQ(Text(*ring), text);
}

// A stored text of `size` bytes whose only line ends are at the given indexes.
std::string Stored(size_t size, std::vector<size_t> lineEnds) {
  std::string text(size, 'x');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
  for (size_t at : lineEnds) text[at] = '\n';
  return text;
}

struct TrimCase {
  const char* name;
  size_t stored;
  std::vector<size_t> lineEnds;
  size_t added;
  size_t dropped;  // bytes dropped from the front; stored + 1 means the ring was emptied
};

class RingTrimming : public testing::TestWithParam<TrimCase> {};

TEST_P(RingTrimming, DropsWholeLinesFromTheFront) {
  const TrimCase& c = GetParam();
  const std::string before = Stored(c.stored, c.lineEnds);
  OutputRingRecord ring;
  Fill(&ring, before);
  const std::string added(c.added, '+');
  AppendToRing(&ring, added.data(), added.size());
  const std::string kept = c.dropped > c.stored ? std::string() : before.substr(c.dropped);
  EXPECT_EQ(Text(ring), kept + added);
  EXPECT_LT(ring.fill, OutputRingCapacity);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RingTrimming,
    testing::Values(
        TrimCase{"FitsWithoutTrimming", 8000, {10}, 191, 0},
        // 100 bytes onto 8150: the first line end at index 99 or later (120) goes with its line.
        TrimCase{"FirstLineEndFarEnoughIn", 8150, {50, 120, 4000}, 100, 121},
        TrimCase{"LineEndExactlyAtCountMinusOne", 8150, {99}, 100, 100},
        TrimCase{"LineEndsTooEarlyEmptyTheRing", 8150, {10, 98}, 100, 8151},
        TrimCase{"NoLineEndEmptiesTheRing", 8191, {}, 1, 8192},
        TrimCase{"ExactlyFullAfterAppendTrims", 8100, {3}, 92, 8101},
        TrimCase{"FillingToTheLastByteBeforeTheTerminator", 8100, {}, 91, 0}),
    [](const testing::TestParamInfo<TrimCase>& info) { return std::string(info.param.name); });

TEST(OutputRing, MoreThanTheRingHoldsIsCutNeverWrittenPast) {
  OutputRingRecord ring;
  Fill(&ring, "old\n");
  const std::string huge(20000, 'z');
  AppendToRing(&ring, huge.data(), huge.size());
  EXPECT_EQ(Text(ring), std::string(OutputRingCapacity - 1, 'z'));
}

TEST(OutputRing, KeepsCrLfAsWritten) {
  OutputRingRecord ring{};
  AppendToRing(&ring, "Unrecognized option: -Xfoo\r\n", 28);
  AppendToRing(&ring, "Error\r\n", 7);
  EXPECT_EQ(Text(ring), "Unrecognized option: -Xfoo\r\nError\r\n");
}

TEST(OutputRing, TakingCopiesAndEmpties) {
  OutputRingRecord ring;
  Fill(&ring, "line one\nline two\n");
  char out[8] = {};
  EXPECT_EQ(TakeRingText(&ring, out, sizeof(out)), 7u);  // cut to the caller's buffer
  EXPECT_STREQ(out, "line on");
  EXPECT_EQ(ring.fill, 0u);
  EXPECT_EQ(ring.text[0], '\0');
}

TEST(OutputRing, ConcurrentWritersUnderALockKeepEveryLineWhole) {
  OutputRingRecord ring{};
  std::mutex lock;
  std::vector<std::thread> writers;
  for (char id = 'A'; id < 'E'; ++id) {
    writers.emplace_back([&, id] {
      const std::string line = std::string(1, id) + std::string(40, id) + "\r\n";
      for (int i = 0; i < 2000; ++i) {
        std::lock_guard<std::mutex> hold(lock);
        AppendToRing(&ring, line.data(), line.size());
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  const std::string text = Text(ring);
  ASSERT_FALSE(text.empty());
  // Every kept line is one writer's whole line.
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "unfinished line at " << start;
    const std::string line = text.substr(start, end - start);
    EXPECT_EQ(line, std::string(41, line[0])) << start;
    start = end + 2;
  }
}

// The reader's line splitting.
struct Piece {
  std::vector<std::string> pieces;
};
void Collect(const char* bytes, size_t count, void* context) {
  static_cast<Piece*>(context)->pieces.emplace_back(bytes, count);
}

struct ReadCase {
  const char* name;
  std::vector<std::string> reads;
  std::vector<std::string> passed;    // after the reads
  std::vector<std::string> flushed;   // what the end of the pipe adds
};

class PipeReading : public testing::TestWithParam<ReadCase> {};

TEST_P(PipeReading, PassesLinesAsSoonAsTheyAreComplete) {
  PipeLines lines{};
  Piece got;
  for (const std::string& read : GetParam().reads) {
    ASSERT_LE(read.size(), FreeSize(&lines));
    std::memcpy(FreePart(&lines), read.data(), read.size());
    TakeLines(&lines, read.size(), Collect, &got);
  }
  EXPECT_EQ(got.pieces, GetParam().passed);
  got.pieces.clear();
  FlushLines(&lines, Collect, &got);
  EXPECT_EQ(got.pieces, GetParam().flushed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PipeReading,
    testing::Values(
        ReadCase{"TwoLinesInOneRead", {"one\r\ntwo\n"}, {"one\r\n", "two\n"}, {}},
        ReadCase{"ALineInPieces", {"hel", "lo\nwor"}, {"hello\n"}, {"wor"}},
        // A long line reaches the ring as one full piece, then the rest with its line end.
        ReadCase{"ALineLongerThanTheBuffer",
                 {std::string(1000, 'a'), std::string(24, 'a'), "tail\n"},
                 {std::string(1024, 'a'), "tail\n"},
                 {}},
        ReadCase{"TheLastWordsWithoutALineEndAreKept", {"Exception: boom\n\tat x", "(y)"}, {"Exception: boom\n"}, {"\tat x(y)"}},
        ReadCase{"NothingRead", {}, {}, {}}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

}  // namespace
