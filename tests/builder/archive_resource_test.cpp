// Carried archives: finding the files of a project, checking their names, and the resource layout.
#include "archive_resource.h"

#include "archives/archive_layout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using namespace corvane::builder;
namespace fs = std::filesystem;

class Archives : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(CORVANE_TEST_TMP) / "archives" / testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "lib");
  }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  // Sources name files relative to the test's folder, as a project file's folder would.
  Error Resolve(std::vector<ArchiveSource> sources, std::vector<ArchiveFile>& files) {
    for (ArchiveSource& source : sources) source.file = (dir_ / source.file).generic_string();
    return ResolveArchives(sources, files);
  }
  // An expected error with "{dir}/" standing for the test's folder.
  std::string Expected(std::string text) {
    const size_t at = text.find("{dir}/");
    if (at != std::string::npos) text.replace(at, 6, dir_.generic_string() + "/");
    return text;
  }
  fs::path dir_;
};

TEST_F(Archives, PatternsMatchInNameOrderAndKeepTheListOrder) {
  Write("lib/b.jar", "bb");
  Write("lib/a.jar", "a");
  Write("lib/notes.txt", "x");
  Write("main.jar", "main");
  fs::create_directories(dir_ / "lib" / "dir.jar");
  std::vector<ArchiveFile> files;
  ASSERT_FALSE(Resolve({{"main.jar", ""}, {"lib/*.jar", ""}}, files));
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].name, "main.jar");
  EXPECT_EQ(files[1].name, "a.jar");
  EXPECT_EQ(files[2].name, "b.jar");
  EXPECT_EQ(files[2].size, 2u);
}

TEST_F(Archives, ARenamedArchiveCarriesItsNewName) {
  Write("app-1.0.jar", "x");
  std::vector<ArchiveFile> files;
  ASSERT_FALSE(Resolve({{"app-1.0.jar", "app.jar"}}, files));
  EXPECT_EQ(files.at(0).name, "app.jar");
}

TEST_F(Archives, BadListsAreRefused) {
  Write("lib/a.jar", "a");
  Write("lib/A.JAR", "A");
  struct Case {
    std::vector<ArchiveSource> sources;
    std::string error;
  } cases[] = {
      {{{"missing.jar", ""}}, "archive \"{dir}/missing.jar\" does not exist"},
      {{{"lib/*.war", ""}}, "\"{dir}/lib/*.war\" matches no file"},
      {{{"l*/a.jar", ""}}, "\"{dir}/l*/a.jar\": wildcards are allowed only in the file name"},
      {{{"lib/a.jar", ""}, {"lib/a.jar", ""}}, "archive name \"a.jar\" is used twice"},
      {{{"lib/*.jar", "x.jar"}}, "\"{dir}/lib/*.jar\": a name can be given only to a single file"},
      {{{"lib/a.jar", "../a.jar"}}, "archive \"{dir}/lib/a.jar\": the name \"../a.jar\" is not a bare file name (it holds \"/\")"},
  };
  for (const Case& c : cases) {
    std::vector<ArchiveFile> files;
    const Error error = Resolve(c.sources, files);
    ASSERT_TRUE(error.has_value()) << c.error;
    EXPECT_EQ(*error, Expected(c.error));
  }
  // Names that differ only in letter case name the same file on Windows.
  std::vector<ArchiveFile> files;
  const Error error = Resolve({{"lib/*", ""}}, files);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(*error, "archive name \"a.jar\" is used twice");
}

TEST_F(Archives, SizesBeyondWhatALauncherCarriesAreRefused) {
  // Sparse files: the sizes are real, the disk stays empty.
  const std::pair<const char*, uint64_t> sizes[] = {
      {"huge.jar", uint64_t{1} << 32}, {"almost.jar", (uint64_t{1} << 32) - 1},
      {"big1.jar", uint64_t{1} << 30}, {"big2.jar", uint64_t{1} << 30}};
  for (const auto& [name, size] : sizes) {
    Write(name, "");
    fs::resize_file(dir_ / name, size);
  }
  std::vector<ArchiveFile> files;
  Error error = Resolve({{"huge.jar", ""}}, files);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(*error, Expected("archive \"{dir}/huge.jar\" is 4 GiB or larger"));
  error = Resolve({{"almost.jar", ""}}, files);
  ASSERT_TRUE(error.has_value()) << "4 GiB less one byte fits the size field but no launcher";
  EXPECT_EQ(*error, "the archives are larger than a launcher can carry (2 GiB)");
  error = Resolve({{"big*.jar", ""}}, files);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(*error, "the archives are larger than a launcher can carry (2 GiB)");
}

TEST(ArchiveNames, OnlyBareWindowsFileNamesPass) {
  for (const char* good : {"a.jar", "lib-1.0.jar", "x", "conx.jar", "COMA.jar", "lpt10.jar"}) {
    EXPECT_FALSE(CheckArchiveName(good).has_value()) << good;
  }
  for (const std::string& bad : {std::string(""), std::string("a/b.jar"), std::string("a\\b.jar"), std::string("C:a.jar"),
                                std::string(".."), std::string("."), std::string("a.jar."), std::string("a.jar "),
                                std::string("CON"), std::string("con.jar"), std::string("Nul.txt"), std::string("COM1.jar"), std::string("com0.txt"), std::string("con.jar.bak"),
                                std::string("lpt9"), std::string("a?.jar"), std::string("a\tb.jar"), std::string(201, 'n')}) {
    EXPECT_TRUE(CheckArchiveName(bad).has_value()) << bad;
  }
}

TEST_F(Archives, EncodeAndDecodeAgree) {
  Write("a.jar", std::string("\0\x01\x02", 3));
  Write("empty.jar", "");
  std::vector<ArchiveFile> files;
  ASSERT_FALSE(Resolve({{"a.jar", ""}, {"empty.jar", ""}}, files));
  Bytes data;
  ASSERT_FALSE(EncodeArchives(files, data));
  // count, then "a.jar\0" + time + size + 3 bytes, then "empty.jar\0" + time + size.
  ASSERT_EQ(data.size(), 4u + 6 + 12 + 3 + 10 + 12);
  EXPECT_EQ(data[0], 2);
  EXPECT_EQ(data[4 + 6 + 8], 3) << "size of a.jar";
  std::vector<ArchiveInfo> entries;
  ASSERT_FALSE(DecodeArchives(data, entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "a.jar");
  EXPECT_EQ(entries[0].size, 3u);
  EXPECT_EQ(entries[0].fileTime, files[0].fileTime);
  EXPECT_EQ(entries[1].size, 0u);
}

TEST_F(Archives, TheLauncherReadsWhatTheBuilderWrites) {
  Write("a.jar", "abc");
  Write("empty.jar", "");
  std::vector<ArchiveFile> files;
  ASSERT_FALSE(Resolve({{"a.jar", "renamed.jar"}, {"empty.jar", ""}}, files));
  Bytes data;
  ASSERT_FALSE(EncodeArchives(files, data));
  struct Read {
    std::vector<std::string> names;
    std::vector<uint64_t> times;
    std::vector<std::string> bytes;
  } read;
  int32_t count = 0;
  ASSERT_EQ(ReadArchiveLayout(
                data.data(), data.size(), &count,
                [](const ArchiveEntryView& entry, void* context) {
                  auto* r = static_cast<Read*>(context);
                  r->names.emplace_back(entry.name);
                  r->times.push_back(uint64_t{entry.timeHigh} << 32 | entry.timeLow);
                  r->bytes.emplace_back(reinterpret_cast<const char*>(entry.data), entry.size);
                  return true;
                },
                &read),
            ArchiveLayoutResult::Complete);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(read.names, (std::vector<std::string>{"renamed.jar", "empty.jar"}));
  EXPECT_EQ(read.times, (std::vector<uint64_t>{files[0].fileTime, files[1].fileTime}));
  EXPECT_EQ(read.bytes, (std::vector<std::string>{"abc", ""}));
  // Every name the builder accepts is one the launcher accepts.
  for (const std::string& name : read.names) EXPECT_EQ(ClassifyArchiveName(name.c_str()), ArchiveNameProblem::None);
}

TEST_F(Archives, TheTimeIsTheFilesLastWriteTime) {
  Write("a.jar", "x");
  // 2001-09-09T01:46:40Z is 1000000000 seconds after 1970.
  fs::last_write_time(dir_ / "a.jar", fs::file_time_type::clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(1000000000))));
  uint64_t time = 0;
  ASSERT_FALSE(LastWriteFileTime(dir_ / "a.jar", time));
  EXPECT_EQ(time, (1000000000ull + 11644473600ull) * 10000000ull);
}

TEST(ArchiveDecoding, LyingDataIsRefused) {
  struct Case {
    const char* name;
    Bytes data;
  } cases[] = {
      {"ShorterThanItsCount", {1, 0}},
      {"CountWithoutEntries", {1, 0, 0, 0}},
      {"NameWithoutEnd", {1, 0, 0, 0, 'a', 'b'}},
      {"EntryCutShort", {1, 0, 0, 0, 'a', 0, 1, 2, 3}},
      {"SizeLargerThanTheData", {1, 0, 0, 0, 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1}},
  };
  for (const Case& c : cases) {
    std::vector<ArchiveInfo> entries;
    EXPECT_TRUE(DecodeArchives(c.data, entries).has_value()) << c.name;
  }
  std::vector<ArchiveInfo> entries;
  EXPECT_FALSE(DecodeArchives(Bytes{0, 0, 0, 0}, entries).has_value());
  EXPECT_FALSE(DecodeArchives(Bytes{0xFF, 0xFF, 0xFF, 0xFF}, entries).has_value()) << "a negative count holds nothing";
}

}  // namespace
