// Project files and the archives they name: typed settings, messages and their conversions, file
// patterns and archive names, the archive resource, and a clear message for every kind of bad input.
#include "archive_resource.h"
#include "archives/archive_layout.h"
#include "base/scramble.h"
#include "base/setting_table.h"
#include "project.h"
#include "support.h"

namespace corvane::builder {
namespace {

Project Load(const std::string& text) {
  Project project;
  const Error error = ApplyProjectText(text, "app.toml", ".", project);
  EXPECT_FALSE(error.has_value()) << *error;
  return project;
}

TEST(Project, StoresWhatTheLauncherReads) {
  Project p = Load(R"toml(
stub = "stubs/corvane-stub.exe"
[settings]
MainClass = "org.example.Main"
WorkingDir = ""
AllowMultipleInstances = true
PriorityClass = -1
SplashSeconds = -0
SplashText = "Starting\nplease wait"
[messages]
9 = "Class %s is missing (100%% sure)"
[messages.translations.1031]
1 = "L\u00e4uft bereits."
[archives]
files = ["lib/*.jar", { file = "build\\app-1.0.jar", name = "app.jar" }]
[version]
file_version = "1.2.3.4"
product_version = "1.2"
[manifest]
execution_level = "requireAdministrator"
dpi_awareness = "per-monitor-v2"
)toml");
  EXPECT_STREQ(DescrambleText(p.settings.at(IdMainClass).c_str()), "org.example.Main");
  EXPECT_EQ(p.settings.at(IdWorkingDir) + "|" + p.settings.at(IdAllowMultipleInstances) + "|" + p.settings.at(IdPriorityClass) +
                "|" + p.settings.at(IdSplashSeconds) + "|" + p.settings.at(IdSplashText),
            "<null>|1|-1|0|Starting\\nplease wait");
  EXPECT_EQ(p.settings.count(IdJvmVersion), 0u) << "keys left out keep the stub's value";
  EXPECT_EQ(p.messages.at(9) + "|" + p.translations.at(1031).at(1), "Class %s is missing (100%% sure)|L\xC3\xA4uft bereits.");
  EXPECT_EQ(p.stub + "|" + p.archives->at(1).file + "|" + p.archives->at(1).name, "stubs/corvane-stub.exe|build/app-1.0.jar|app.jar");
  EXPECT_EQ(p.version->productVersion, (std::array<uint16_t, 4>{1, 2, 0, 0}));
  EXPECT_TRUE(p.manifest->executionLevel == ExecutionLevel::RequireAdministrator && p.manifest->dpiAwareness == DpiAwareness::PerMonitorV2);
  ASSERT_FALSE(ApplyProjectText("[archives]\nfiles = [\"y.jar\"]\n", "over.toml", "over", p));
  EXPECT_EQ(p.archives->at(0).file + "|" + p.settings.at(IdPriorityClass), "over/y.jar|-1") << "later files override";
}

TEST(Project, BadInputIsRefusedWithFileLineKeyAndReasonAndChangesNothing) {
  const std::string exactlyOne = "must hold exactly one \"%s\", which the launcher fills, and no other conversion (found ";
  const std::pair<std::string, std::string> cases[] = {
      {"[settings]\nClassPath = \"x\"\nJvmVerson = \"17\"\n", "app.toml:3: settings.JvmVerson: unknown setting"},
      {"[setings]\nx = 1\n", "app.toml:1: setings: unknown table"},
      {"[settings]\nServiceOnly = \"yes\"\n", "app.toml:2: settings.ServiceOnly: must be true or false"},
      {"[settings]\nSplashSeconds = \"5\"\n", "app.toml:2: settings.SplashSeconds: must be a whole number"},
      {"[settings]\nPriorityClass = 4294967296\n", "app.toml:2: settings.PriorityClass: does not fit a signed 32-bit number"},
      {"[settings]\nSplashSeconds = -1\n", "app.toml:2: settings.SplashSeconds: must not be negative"},
      {"[settings]\nStdOutMode = 3\n", "app.toml:2: settings.StdOutMode: must be 0 (none), 1 (file) or 2 (capture)"},
      {"[settings]\nMainClass = \"" + std::string(256, 'a') + "\"\n", "app.toml:2: settings.MainClass: is longer than 255 bytes"},
      {"[settings]\nServiceName = \"My \\\"Service\\\"\"\n", "app.toml:2: settings.ServiceName: must not hold a double quote"},
      {"[settings]\nServiceDescription = \"C:\\\\\"\n", "app.toml:2: settings.ServiceDescription: must not end with a backslash"},
      {"[settings]\nClassPath = \"a\\u0000b\"\n", "app.toml:2: settings.ClassPath: must not hold a zero character"},
      {"[messages]\n9 = \"Class %s (%d)\"\n", "app.toml:2: messages.9: " + exactlyOne + "\"%s%d\")"},
      {"[messages]\n14 = \"Service installed.\"\n", "app.toml:2: messages.14: " + exactlyOne + "\"\")"},
      {"[messages]\n21 = \"%s only\"\n", "app.toml:2: messages.21: must hold no printf conversion such as \"%s\" (the "
                                         "launcher fills nothing in; write \"%%\" for a percent sign)"},
      {"[messages]\n21 = \"100%\"\n", "app.toml:2: messages.21: ends with an unfinished \"%\" (write \"%%\" for a percent sign)"},
      {"[messages]\n22 = \"x\"\n", "app.toml:2: messages.22: unknown message (messages are numbered 1 to 21)"},
      {"[messages.translations.german]\n1 = \"x\"\n", "app.toml:1: messages.translations.german: must be a Windows "
                                                      "language id other than 3081 (for example 1031 for German)"},
      {"[archives]\nfiles = [{ file = \"a.jar\", name = \"NUL.jar\" }]\n",
       "app.toml:2: archives.files.name: the name \"NUL.jar\" is a Windows device name"},
      {"[manifest]\nexecution_level = \"admin\"\n", "app.toml:2: manifest.execution_level: must be \"asInvoker\", "
                                                    "\"highestAvailable\" or \"requireAdministrator\""},
      {"[version]\nfile_version = \"1.2.3.4.5\"\n", "app.toml:2: "},  // wording of the library: the place is enough
      {"[settings]\nSplashSeconds = 1\xC4\xA8\n", "app.toml:2: "}};
  for (const auto& [text, error] : cases) {
    Project project;
    project.settings[IdClassPath] = "unchanged";
    const Error refused = ApplyProjectText(text, "app.toml", ".", project);
    ASSERT_TRUE(refused.has_value()) << text;
    EXPECT_EQ(refused->substr(0, error.size() == 12 ? 12 : std::string::npos), error);
    EXPECT_TRUE(project.settings.size() == 1 && project.messages.empty() && !project.version) << "a refused file changes nothing";
  }
  for (int id = 1; id <= 21; ++id) EXPECT_STREQ(MessageConversions(id), id == 1 || id == 8 || id == 21 ? "" : "%s") << id;
}

// Archive sources name files relative to the test's folder, as a project file's folder would.
Error Resolve(const fs::path& dir, std::vector<ArchiveSource> sources, std::vector<ArchiveFile>& files) {
  for (ArchiveSource& source : sources) source.file = (dir / source.file).generic_string();
  return ResolveArchives(sources, files);
}

TEST(Archives, PatternsMatchInNameOrderAndBadListsAreRefused) {
  const fs::path dir = TestDir();
  fs::create_directories(dir / "lib" / "dir.jar");
  for (const char* name : {"lib/b.jar", "lib/a.jar", "lib/notes.txt", "lib/ab.jar", "main.jar"}) std::ofstream(dir / name) << name;
  std::vector<ArchiveFile> files;
  ASSERT_FALSE(Resolve(dir, {{"main.jar", "renamed.jar"}, {"lib/?.jar", ""}}, files));
  std::string names;
  for (const ArchiveFile& file : files) names += file.name + " ";
  EXPECT_EQ(names, "renamed.jar a.jar b.jar ");
  std::ofstream(dir / "lib/A.JAR") << "A";
  const std::string d = dir.generic_string() + "/";
  const std::pair<std::vector<ArchiveSource>, std::string> cases[] = {
      {{{"missing.jar", ""}}, "archive \"" + d + "missing.jar\" does not exist"},
      {{{"lib/*.war", ""}}, "\"" + d + "lib/*.war\" matches no file"},
      {{{"l*/a.jar", ""}}, "\"" + d + "l*/a.jar\": wildcards are allowed only in the file name"},
      {{{"lib/*.jar", "x.jar"}}, "\"" + d + "lib/*.jar\": a name can be given only to a single file"},
      {{{"lib/a.jar", "../a.jar"}}, "archive \"" + d + "lib/a.jar\": the name \"../a.jar\" is not a bare file name (it holds \"/\")"},
      {{{"lib/*", ""}}, "archive name \"a.jar\" is used twice"}};  // names equal but for case name one file on Windows
  for (const auto& [sources, error] : cases) EXPECT_EQ(Resolve(dir, sources, files), error);
  for (const char* good : {"conx.jar", "COMA.jar", "lpt10.jar"}) EXPECT_FALSE(CheckArchiveName(good).has_value()) << good;
  for (const char* bad : {"a\\b.jar", "a.jar ", "CON", "com0.txt", "con.jar.bak", "a?.jar"}) EXPECT_TRUE(CheckArchiveName(bad).has_value()) << bad;
}

TEST(Archives, SizesBeyondWhatALauncherCarriesAreRefused) {
  const fs::path dir = TestDir();
  for (const auto& [name, size] : {std::pair{"huge.jar", uint64_t{1} << 32}, {"almost.jar", (uint64_t{1} << 32) - 1},
                                   {"big1.jar", uint64_t{1} << 30}, {"big2.jar", uint64_t{1} << 30}}) {
    std::ofstream(dir / name);
    fs::resize_file(dir / name, size);  // sparse: the sizes are real, the disk stays empty
  }
  std::vector<ArchiveFile> files;
  EXPECT_EQ(Resolve(dir, {{"huge.jar", ""}}, files), "archive \"" + (dir / "huge.jar").generic_string() + "\" is 4 GiB or larger");
  EXPECT_EQ(Resolve(dir, {{"almost.jar", ""}}, files), "the archives are larger than a launcher can carry (2 GiB)");
  EXPECT_EQ(Resolve(dir, {{"big*.jar", ""}}, files), "the archives are larger than a launcher can carry (2 GiB)");
}

// What the builder writes the launcher reads: names, last-write times and bytes; a resource whose
// lengths lie is refused whole.
TEST(Archives, TheLauncherReadsWhatTheBuilderWrites) {
  const fs::path dir = TestDir();
  std::ofstream(dir / "a.jar") << "abc";
  std::ofstream(dir / "empty.jar");
  fs::last_write_time(dir / "a.jar", fs::file_time_type::clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(1000000000))));
  std::vector<ArchiveFile> files;
  ASSERT_FALSE(Resolve(dir, {{"a.jar", "renamed.jar"}, {"empty.jar", ""}}, files));
  EXPECT_EQ(files[0].fileTime, (1000000000ull + 11644473600ull) * 10000000ull);
  Bytes data;
  ASSERT_FALSE(EncodeArchives(files, data));
  std::vector<std::string> read;
  int32_t count = 0;
  const auto visit = [](const ArchiveEntryView& e, void* seen) {
    const uint64_t time = uint64_t{e.timeHigh} << 32 | e.timeLow;
    static_cast<std::vector<std::string>*>(seen)->push_back(e.name + (":" + std::to_string(time)) + ":" +
                                                            std::string(reinterpret_cast<const char*>(e.data), e.size));
    return true;
  };
  ASSERT_EQ(ReadArchiveLayout(data.data(), data.size(), &count, visit, &read), ArchiveLayoutResult::Complete);
  EXPECT_EQ(read, (std::vector<std::string>{"renamed.jar:" + std::to_string(files[0].fileTime) + ":abc",
                                            "empty.jar:" + std::to_string(files[1].fileTime) + ":"}));
  std::vector<ArchiveInfo> entries;
  ASSERT_FALSE(DecodeArchives(data, entries));
  EXPECT_TRUE(entries.size() == 2 && entries[0].name == "renamed.jar" && entries[0].size == 3 && entries[0].fileTime == files[0].fileTime);
  for (const Bytes& lying : {Bytes{1, 0}, Bytes{1, 0, 0, 0, 'a', 'b'}, Bytes{1, 0, 0, 0, 'a', 0, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0},
                             Bytes{1, 0, 0, 0, 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1}}) {
    EXPECT_TRUE(DecodeArchives(lying, entries).has_value()) << lying.size();
  }
}

}  // namespace
}  // namespace corvane::builder
