// Project files and the archives they name, with a clear message for every kind of bad input.
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
  Project p = Load("[settings]\nMainClass = \"org.example.Main\"\nWorkingDir = \"\"\nAllowMultipleInstances = true\n"
                   "PriorityClass = -1\nSplashText = \"Starting\\nplease wait\"\n[messages]\n9 = \"Class %s (100%% sure)\"\n"
                   "[archives]\nfiles = [\"lib/*.jar\", { file = \"build\\\\app-1.0.jar\", name = \"app.jar\" }]\n");
  EXPECT_STREQ(DescrambleText(p.settings.at(IdMainClass).c_str()), "org.example.Main");
  EXPECT_EQ(p.settings.at(IdWorkingDir) + "|" + p.settings.at(IdAllowMultipleInstances) + "|" + p.settings.at(IdPriorityClass) +
                "|" + p.settings.at(IdSplashText) + "|" + p.messages.at(9),
            "<null>|1|-1|Starting\\nplease wait|Class %s (100%% sure)");
  EXPECT_EQ(p.settings.count(IdJvmVersion), 0u) << "keys left out keep the stub's value";
  EXPECT_EQ(p.archives->at(1).file + "|" + p.archives->at(1).name, "build/app-1.0.jar|app.jar");
  ASSERT_FALSE(ApplyProjectText("[archives]\nfiles = [\"y.jar\"]\n", "over.toml", "over", p));
  EXPECT_EQ(p.archives->at(0).file + "|" + p.settings.at(IdPriorityClass), "over/y.jar|-1") << "later files override";
}

TEST(Project, BadInputIsRefusedWithFileLineKeyAndReasonAndChangesNothing) {
  const std::string exactlyOne = "must hold exactly one \"%s\", which the launcher fills, and no other conversion (found ";
  const std::pair<std::string, std::string> cases[] = {
      {"[settings]\nClassPath = \"x\"\nJvmVerson = \"17\"\n", "app.toml:3: settings.JvmVerson: unknown setting"},
      {"[settings]\nServiceOnly = \"yes\"\n", "app.toml:2: settings.ServiceOnly: must be true or false"},
      {"[settings]\nPriorityClass = 4294967296\n", "app.toml:2: settings.PriorityClass: does not fit a signed 32-bit number"},
      {"[settings]\nSplashSeconds = -1\n", "app.toml:2: settings.SplashSeconds: must not be negative"},
      {"[settings]\nStdOutMode = 3\n", "app.toml:2: settings.StdOutMode: must be 0 (none), 1 (file) or 2 (capture)"},
      {"[settings]\nMainClass = \"" + std::string(256, 'a') + "\"\n", "app.toml:2: settings.MainClass: is longer than 255 bytes"},
      {"[settings]\nServiceName = \"My \\\"Service\\\"\"\n", "app.toml:2: settings.ServiceName: must not hold a double quote"},
      {"[settings]\nServiceDescription = \"C:\\\\\"\n", "app.toml:2: settings.ServiceDescription: must not end with a backslash"},
      {"[settings]\nServiceRestartDelays = \"5000;;60000\"\n", "app.toml:2: settings.ServiceRestartDelays: must be whole "
                                                           "milliseconds separated by \";\", such as \"5000;30000;60000\""},
      {"[settings]\nServiceResetSeconds = -1\n", "app.toml:2: settings.ServiceResetSeconds: must not be negative"},
      {"[settings]\nServiceAccount = \"svc\"\n", "app.toml:2: settings.ServiceAccount: an account is \".\\name\", "
                                               "\"DOMAIN\\name\", \"NT AUTHORITY\\LocalService\" or \"NT AUTHORITY\\NetworkService\""},
      {"[settings]\nSecondInstanceMethod = \"open file\"\n", "app.toml:2: settings.SecondInstanceMethod: is no Java method name"},
      {"[settings]\nClassPath = \"a\\u0000b\"\n", "app.toml:2: settings.ClassPath: must not hold a zero character"},
      {"[messages]\n9 = \"Class %s (%d)\"\n", "app.toml:2: messages.9: " + exactlyOne + "\"%s%d\")"},
      {"[messages]\n14 = \"Service installed.\"\n", "app.toml:2: messages.14: " + exactlyOne + "\"\")"},
      {"[messages]\n21 = \"%s only\"\n", "app.toml:2: messages.21: must hold no printf conversion such as \"%s\" (the "
                                         "launcher fills nothing in; write \"%%\" for a percent sign)"},
      {"[messages]\n21 = \"100%\"\n", "app.toml:2: messages.21: ends with an unfinished \"%\" (write \"%%\" for a percent sign)"},
      {"[messages]\n24 = \"x\"\n", "app.toml:2: messages.24: unknown message (messages are numbered 1 to 23)"},
      {"[archives]\nfiles = [{ file = \"a.jar\", name = \"NUL.jar\" }]\n",
       "app.toml:2: archives.files.name: the name \"NUL.jar\" is a Windows device name"},
      {"[launcher]\nwindowed = true\n", "app.toml:2: launcher.windowed: unknown key (launcher has only \"console\")"},
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

TEST(Archives, PatternsMatchInNameOrderAndBadListsOrSizesAreRefused) {
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
      {{{"lib/a.jar", "../a.jar"}}, "archive \"" + d + "lib/a.jar\": the name \"../a.jar\" is not a bare file name (it holds \"/\")"},
      {{{"lib/*", ""}}, "archive name \"a.jar\" is used twice"}};  // names equal but for case name one file on Windows
  for (const auto& [sources, error] : cases) EXPECT_EQ(Resolve(dir, sources, files), error);
  for (const char* good : {"conx.jar", "COMA.jar", "lpt10.jar"}) EXPECT_FALSE(CheckArchiveName(good).has_value()) << good;
  for (const char* bad : {"a\\b.jar", "a.jar ", "CON", "com0.txt", "con.jar.bak", "a?.jar"}) EXPECT_TRUE(CheckArchiveName(bad).has_value()) << bad;
  for (const auto& [name, size] : {std::pair{"huge.jar", uint64_t{1} << 32}, {"almost.jar", (uint64_t{1} << 32) - 1},
                                   {"big1.jar", uint64_t{1} << 30}, {"big2.jar", uint64_t{1} << 30}}) {
    std::ofstream(dir / name);
    fs::resize_file(dir / name, size);  // sparse: the sizes are real, the disk stays empty
  }
  EXPECT_EQ(Resolve(dir, {{"huge.jar", ""}}, files), "archive \"" + d + "huge.jar\" is 4 GiB or larger");
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
  Bytes data;
  ASSERT_FALSE(Resolve(dir, {{"a.jar", "renamed.jar"}, {"empty.jar", ""}}, files) || EncodeArchives(files, data));
  EXPECT_EQ(files[0].fileTime, (1000000000ull + 11644473600ull) * 10000000ull);
  std::vector<std::string> read;
  int32_t count = 0;
  const auto visit = [](const ArchiveEntryView& e, void* seen) {
    const std::string time = std::to_string(uint64_t{e.timeHigh} << 32 | e.timeLow);
    return static_cast<std::vector<std::string>*>(seen)->push_back(e.name + (":" + time + ":") + std::string((const char*)e.data, e.size)), true;
  };
  ASSERT_EQ(ReadArchiveLayout(data.data(), data.size(), &count, visit, &read), ArchiveLayoutResult::Complete);
  EXPECT_EQ(read, (std::vector<std::string>{"renamed.jar:" + std::to_string(files[0].fileTime) + ":abc",
                                            "empty.jar:" + std::to_string(files[1].fileTime) + ":"}));
  for (const Bytes& lying : {Bytes{1, 0}, Bytes{1, 0, 0, 0, 'a', 'b'}, Bytes{1, 0, 0, 0, 'a', 0, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0},
                             Bytes{1, 0, 0, 0, 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1}}) {
    std::vector<ArchiveInfo> entries;
    EXPECT_TRUE(DecodeArchives(lying, entries).has_value()) << lying.size();  // inspect refuses lying lengths
  }
}

}  // namespace
}  // namespace corvane::builder
