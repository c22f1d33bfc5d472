// Archives carried in a launcher made by corvane-build: written into the temporary folder at start,
// put on the class path, left alone when unchanged, and removed by the clean-up child. Crafted
// resources show that nothing is written or deleted outside the temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "java_app_support.h"
#include "pe_image.h"
#include "resource_tree.h"

namespace {

using namespace corvane::test;
namespace b = corvane::builder;

// An archive for the project: its name in the launcher, its bytes, and its last-write time in
// 100-nanosecond steps after the Unix epoch (so that the exact time can be compared).
struct Carried {
  std::string name;
  std::string data;
  int64_t ticks = 17000000000000000;
};

fs::file_time_type TimeOf(int64_t ticks) {
  using namespace std::chrono;
  return file_clock::from_sys(sys_time<nanoseconds>(nanoseconds(ticks * 100)));
}

// What tells a rewritten file from an untouched one on the Linux side: a rename gives a new inode,
// and a write or a time set moves the change time.
struct Identity {
  ino_t inode = 0;
  timespec changed{};
  bool operator==(const Identity& other) const {
    return inode == other.inode && changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
  }
};
Identity IdentityOf(const fs::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  return {info.st_ino, info.st_ctim};
}

// Replaces the archive resource of a launcher with crafted bytes, with the builder's own PE code.
void PutArchiveResource(const fs::path& exe, const std::string& bytes) {
  const std::string file = ReadAll(exe);
  b::PeImage image;
  ASSERT_FALSE(b::PeImage::Parse(b::Bytes(file.begin(), file.end()), image).has_value());
  b::ResourceTree tree;
  ASSERT_FALSE(image.ReadResources(tree).has_value());
  tree.Remove(b::ResourceType::RawData, b::ResourceKey::Id(1));
  tree.Put(b::ResourceType::RawData, b::ResourceKey::Id(1), 0, b::Bytes(bytes.begin(), bytes.end()));
  ASSERT_FALSE(image.ReplaceResources(tree).has_value());
  const b::Bytes written = image.Serialize();
  std::ofstream(exe, std::ios::binary)
      .write(reinterpret_cast<const char*>(written.data()), static_cast<std::streamsize>(written.size()));
}

std::string Le32(uint32_t value) {
  std::string out;
  for (int i = 0; i < 4; ++i) out += static_cast<char>(value >> (8 * i));
  return out;
}
// One entry of the resource as a tool that does not check names would write it.
std::string RawEntry(const std::string& name, const std::string& data, uint32_t size) {
  return name + std::string(1, '\0') + Le32(0x12345678) + Le32(0x01D9AAAA) + Le32(size) + data;
}

bool WaitUntil(const std::function<bool()>& condition) {
  for (int waited = 0; waited < 400; ++waited) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return condition();
}

const char* const BaseSettings =
    "JvmSearchOrder = \"0\"\nJvmPath = \"jre\\\\bin\\\\server\\\\jvm.dll\"\n"
    "MainClass = \"corvane.test.ScenarioApp\"\nStdOutMode = 0\nStdErrMode = 0\n"
    "AllowMultipleInstances = true\nSplashUntilWindow = false\n";

class Archives : public JavaAppTest {
 protected:
  // Writes app.exe into `folder` from a project with these settings (besides the base ones) and
  // archives, made by corvane-build.
  static void BuildInto(const fs::path& folder, const std::string& settings, const std::vector<Carried>& archives) {
    const fs::path sources = folder / "sources";
    fs::create_directories(sources);
    std::ofstream project(folder / "project.toml");
    project << "[settings]\n" << BaseSettings << settings << "\n[archives]\nfiles = [";
    for (const Carried& archive : archives) {
      const fs::path file = sources / archive.name;
      std::ofstream(file, std::ios::binary) << archive.data;
      fs::last_write_time(file, TimeOf(archive.ticks));
      project << "{ file = \"" << file.string() << "\" }, ";
    }
    project << "]\n";
    project.close();
    const std::string command = "'" + std::string(std::getenv("CORVANE_BUILD_TOOL")) + "' build '" +
                                (folder / "project.toml").string() + "' --stub '" + Win64BuildDir() +
                                "/resources/corvane.exe' -o '" + (folder / "app.exe").string() + "' > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  static AppFolder ArchiveApp(const std::string& settings, const std::vector<Carried>& archives) {
    const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    AppFolder app{Session().FreshDir("apps/" + test), ""};
    BuildInto(app.folder, settings, archives);
    fs::copy_file(ScenarioJar(), app.folder / "scenario-app.jar");
    PutRuntime(app.folder / "jre", Runtime::Fake);
    app.launcher = WindowsPath((app.folder / "app.exe").string());
    return app;
  }

  // The Linux path of a Windows path on drive C: of this session's prefix.
  static fs::path OnDriveC(const std::string& windowsPath) {
    std::string rest = windowsPath.substr(3);
    for (char& c : rest) {
      if (c == '\\') c = '/';
    }
    return fs::path(Session().Prefix()) / "drive_c" / rest;
  }
};

const std::vector<Carried> TwoArchives = {{"x.jar", "first archive", 17000000001234567}, {"empty.jar", ""}};

struct FolderCase {
  const char* name;
  int mode;
  const char* classPath;
};

class ArchivesFolder : public Archives, public testing::WithParamInterface<FolderCase> {};

TEST_P(ArchivesFolder, TheApplicationSeesTheArchivesAfterItsConfiguredClassPath) {
  const FolderCase& c = GetParam();
  const AppFolder app =
      ArchiveApp("TempDirMode = " + std::to_string(c.mode) + "\nClassPath = \"" + c.classPath + "\"\n", TwoArchives);
  const RunResult result = RunApp(app, "prop:corvane.extract.path prop:java.class.path");
  ASSERT_TRUE(result.dialogs.empty()) << testing::PrintToString(Shown(result));
  const std::vector<std::string> lines = Lines(result.output);
  ASSERT_GE(lines.size(), 2u) << result.output;
  const std::string prefix = "prop corvane.extract.path=";
  ASSERT_EQ(lines[0].rfind(prefix, 0), 0u) << lines[0];
  const std::string folder = lines[0].substr(prefix.size());
  const std::string configured = c.classPath;
  const std::string separator = configured.empty() || configured.back() == ';' ? "" : ";";
  EXPECT_EQ(lines[1], "prop java.class.path=" + configured + separator + folder + "\\x.jar;" + folder + "\\empty.jar");

  const fs::path written = c.mode == 2   ? OnDriveC(folder)
                           : c.mode == 1 ? app.folder / ScenarioTempName()
                                         : app.folder;
  EXPECT_EQ(ReadAll(written / "x.jar"), "first archive");
  EXPECT_EQ(fs::last_write_time(written / "x.jar"), TimeOf(TwoArchives[0].ticks));
  EXPECT_TRUE(fs::exists(written / "empty.jar"));
  EXPECT_EQ(fs::file_size(written / "empty.jar"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Modes, ArchivesFolder,
                         testing::Values(FolderCase{"SystemTemporaryFolder", 2, "scenario-app.jar"},
                                         FolderCase{"FolderBesideTheProgram", 1, "scenario-app.jar;"},
                                         FolderCase{"ProgramFolder", 0, "scenario-app.jar"}),
                         [](const testing::TestParamInfo<FolderCase>& info) { return std::string(info.param.name); });

TEST_F(Archives, ASecondStartWritesNothingAndARebuiltLauncherRewritesWhatChanged) {
  const AppFolder app = ArchiveApp("TempDirMode = 1\nClassPath = \"scenario-app.jar\"\n", TwoArchives);
  const fs::path folder = app.folder / ScenarioTempName();
  ASSERT_EQ(RunApp(app, "print:first").exitCode, 0u);
  const Identity x = IdentityOf(folder / "x.jar"), empty = IdentityOf(folder / "empty.jar");
  ASSERT_NE(x.inode, 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // so that a rewrite would move the change time

  const RunResult second = RunApp(app, "print:second");
  EXPECT_TRUE(second.dialogs.empty()) << testing::PrintToString(Shown(second));
  EXPECT_TRUE(IdentityOf(folder / "x.jar") == x);
  EXPECT_TRUE(IdentityOf(folder / "empty.jar") == empty);

  // Same size and new bytes, but a new time: rewritten; the unchanged one stays untouched.
  fs::remove(app.folder / "app.exe");
  BuildInto(app.folder, "TempDirMode = 1\nClassPath = \"scenario-app.jar\"\n",
            {{"x.jar", "FIRST ARCHIVE", 17000000009999999}, TwoArchives[1]});
  const RunResult rebuilt = RunApp(app, "print:third");
  EXPECT_TRUE(rebuilt.dialogs.empty()) << testing::PrintToString(Shown(rebuilt));
  EXPECT_EQ(ReadAll(folder / "x.jar"), "FIRST ARCHIVE");
  EXPECT_EQ(fs::last_write_time(folder / "x.jar"), TimeOf(17000000009999999));
  EXPECT_TRUE(IdentityOf(folder / "empty.jar") == empty);
  // Nothing of the writing is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
}

TEST_F(Archives, AFileHeldOpenElsewhereIsKeptWithoutAReport) {
  const AppFolder app = ArchiveApp("TempDirMode = 1\nClassPath = \"scenario-app.jar\"\n", TwoArchives);
  const fs::path folder = app.folder / ScenarioTempName();
  fs::create_directories(folder);
  std::ofstream(folder / "x.jar") << "an older archive";
  RunOptions holding;
  holding.workDir = app.folder.string();
  auto holder = Session().Start(Quote(FixtureProgram("cvholdfile")) + " " + Quote(WindowsPath((folder / "x.jar").string())),
                                holding);
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(folder / "x.jar.held"); })) << "the file was never held";

  const RunResult result = RunApp(app, "prop:java.class.path");
  std::ofstream(folder / "x.jar.release") << "";
  EXPECT_EQ(holder->Wait().exitCode, 0u);
  EXPECT_TRUE(result.dialogs.empty()) << testing::PrintToString(Shown(result));
  EXPECT_EQ(result.exitCode, 0u);
  const std::string path = ".\\" + ScenarioTempName();
  EXPECT_TRUE(Has(Lines(result.output), "prop java.class.path=scenario-app.jar;" + path + "\\x.jar;" + path + "\\empty.jar"))
      << result.output;
  EXPECT_EQ(ReadAll(folder / "x.jar"), "an older archive");
  EXPECT_TRUE(fs::exists(folder / "empty.jar"));
}

TEST_F(Archives, AFolderThatCannotBeMadeIsReportedAndTheApplicationStillStarts) {
  const AppFolder app = ArchiveApp("TempDirMode = 1\nClassPath = \"scenario-app.jar\"\n", TwoArchives);
  std::ofstream(app.folder / ScenarioTempName()) << "a file where the folder belongs";
  const RunResult result = RunApp(app, "prop:java.class.path");
  ASSERT_EQ(result.dialogs.size(), 1u) << result.output;
  const std::vector<std::string> texts = result.dialogs[0].Texts("static");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].rfind("Error writing to file/directory: .\\" + ScenarioTempName() + "\\x.jar\n\nReason: ", 0), 0u)
      << texts[0];
  EXPECT_TRUE(Has(Lines(result.output), "prop java.class.path=scenario-app.jar")) << result.output;
  EXPECT_EQ(result.exitCode, 0u);
}

TEST_F(Archives, AfterSystemExitTheCleanupChildRemovesTheArchivesButNotTheUsersFiles) {
  // The archives go into the program's folder; the application works in "data", which holds a file
  // of the user's with an archive's name. The VM opens its class path when it is made, from the
  // program's folder: WorkingDir only takes effect after that.
  const AppFolder app = ArchiveApp(
      "TempDirMode = 0\nRemoveTempArchives = true\nWorkingDir = \"data\"\nClassPath = \"scenario-app.jar\"\n",
      TwoArchives);
  fs::create_directories(app.folder / "data");
  std::ofstream(app.folder / "data" / "x.jar") << "the user's own";
  const RunResult result = RunApp(app, "print:running exit:5");
  EXPECT_EQ(result.exitCode, 5u) << result.output;
  EXPECT_TRUE(Has(Lines(result.output), "out running")) << result.output;
  EXPECT_TRUE(WaitUntil([&] { return !fs::exists(app.folder / "x.jar") && !fs::exists(app.folder / "empty.jar"); }))
      << "the archives were not removed";
  EXPECT_EQ(ReadAll(app.folder / "data" / "x.jar"), "the user's own");
  EXPECT_TRUE(fs::exists(app.folder / "app.exe"));
}

TEST_F(Archives, TheCleanupChildWaitsForALivingParentButNotForAnEndedOne) {
  const AppFolder app = ArchiveApp("TempDirMode = 1\nClassPath = \"scenario-app.jar\"\n", TwoArchives);
  const fs::path folder = app.folder / ScenarioTempName();
  ASSERT_EQ(RunApp(app, "print:extracting").exitCode, 0u);
  ASSERT_TRUE(fs::exists(folder / "x.jar"));
  // A main that returns leaves the archives in place.
  EXPECT_TRUE(fs::exists(folder / "empty.jar"));

  RunOptions bounded;
  bounded.timeout = std::chrono::milliseconds(20000);  // far less than the 30 s it would wait for a living parent
  const RunResult child = RunApp(app, "-cvremovetemporaryjarfiles 4000000000", bounded);
  EXPECT_FALSE(child.timedOut);
  EXPECT_EQ(child.exitCode, 0u);
  EXPECT_TRUE(child.dialogs.empty()) << testing::PrintToString(Shown(child));
  EXPECT_FALSE(fs::exists(folder)) << "the folder and its archives should be gone";

  // A parent that still runs is waited for: the holder stands in for it.
  ASSERT_EQ(RunApp(app, "print:extracting").exitCode, 0u);
  std::ofstream(app.folder / "parent") << "";
  RunOptions holding;
  holding.workDir = app.folder.string();
  auto parent = Session().Start(Quote(FixtureProgram("cvholdfile")) + " parent", holding);
  ASSERT_TRUE(WaitUntil([&] { return !ReadAll(app.folder / "parent.held").empty(); }));
  auto waiting = Session().Start(Quote(app.launcher) + " -cvremovetemporaryjarfiles " + ReadAll(app.folder / "parent.held"),
                                 holding);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_TRUE(waiting->Running());
  EXPECT_TRUE(fs::exists(folder / "x.jar")) << "deleted while the parent still ran";
  std::ofstream(app.folder / "parent.release") << "";
  EXPECT_EQ(parent->Wait().exitCode, 0u);
  EXPECT_EQ(waiting->Wait().exitCode, 0u);
  EXPECT_FALSE(fs::exists(folder));

  // With one argument more it is no clean-up child: the application gets the switch.
  const RunResult normal = RunApp(app, "-cvremovetemporaryjarfiles 4000000000 args");
  EXPECT_TRUE(Has(Lines(normal.output), "arg 0 [-cvremovetemporaryjarfiles]")) << normal.output;
  EXPECT_TRUE(fs::exists(folder / "x.jar"));
}

TEST_F(Archives, CraftedNamesNeverLeaveTheTemporaryFolder) {
  const AppFolder app = ArchiveApp("TempDirMode = 1\nClassPath = \"scenario-app.jar\"\n", TwoArchives);
  const fs::path folder = app.folder / ScenarioTempName();
  ASSERT_NO_FATAL_FAILURE(PutArchiveResource(
      app.folder / "app.exe", Le32(4) + RawEntry("..\\evil.jar", "evil", 4) + RawEntry("ok.jar", "fine", 4) +
                                  RawEntry("CON", "device", 6) + RawEntry("", "nameless", 8)));
  const RunResult result = RunApp(app, "prop:java.class.path");
  // One report for all the names refused; the good archive is used.
  ASSERT_EQ(Shown(result), std::vector<std::string>{
                               "Error: The carried archive \"..\\evil.jar\" was not extracted: its name is not a plain "
                               "file name."});
  EXPECT_TRUE(Has(Lines(result.output), "prop java.class.path=scenario-app.jar;.\\" + ScenarioTempName() + "\\ok.jar"))
      << result.output;
  EXPECT_EQ(ReadAll(folder / "ok.jar"), "fine");
  EXPECT_FALSE(fs::exists(app.folder / "evil.jar"));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

  // The clean-up child deletes only what lies inside the folder: a file named like the refused
  // entry outside it survives.
  std::ofstream(app.folder / "evil.jar") << "not ours";
  EXPECT_EQ(RunApp(app, "-cvremovetemporaryjarfiles 4000000000").exitCode, 0u);
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_EQ(ReadAll(app.folder / "evil.jar"), "not ours");
}

TEST_F(Archives, AResourceWithASizeThatLiesIsNotUsedAtAll) {
  const AppFolder app = ArchiveApp("TempDirMode = 1\nClassPath = \"scenario-app.jar\"\n", TwoArchives);
  ASSERT_NO_FATAL_FAILURE(PutArchiveResource(
      app.folder / "app.exe", Le32(2) + RawEntry("ok.jar", "fine", 4) + RawEntry("long.jar", "short", 0x7FFFFFFF)));
  const RunResult result = RunApp(app, "prop:java.class.path");
  EXPECT_EQ(Shown(result), std::vector<std::string>{"Error: The carried archives were not extracted: the program's "
                                                    "archive resource is damaged."});
  EXPECT_TRUE(Has(Lines(result.output), "prop java.class.path=scenario-app.jar")) << result.output;
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_FALSE(fs::exists(app.folder / ScenarioTempName() / "ok.jar"));
}

TEST_F(Archives, LinksPlantedInTheTemporaryFolderAreNeverFollowed) {
  const AppFolder app = ArchiveApp("TempDirMode = 1\nClassPath = \"scenario-app.jar\"\n", TwoArchives);
  const fs::path folder = app.folder / ScenarioTempName(), elsewhere = app.folder / "elsewhere";
  fs::create_directories(elsewhere);
  std::ofstream(elsewhere / "x.jar") << "precious";

  // The folder itself is a link: nothing is written through it, and the clean-up deletes nothing.
  fs::create_directory_symlink(elsewhere, folder);
  const RunResult linked = RunApp(app, "prop:java.class.path");
  ASSERT_EQ(linked.dialogs.size(), 1u) << linked.output;
  EXPECT_EQ(linked.dialogs[0].Texts("static")[0].rfind("Error writing to file/directory: .\\" + ScenarioTempName() + "\n\n", 0),
            0u)
      << linked.dialogs[0].Texts("static")[0];
  EXPECT_TRUE(Has(Lines(linked.output), "prop java.class.path=scenario-app.jar")) << linked.output;
  EXPECT_EQ(RunApp(app, "-cvremovetemporaryjarfiles 4000000000").exitCode, 0u);
  EXPECT_EQ(ReadAll(elsewhere / "x.jar"), "precious");
  EXPECT_FALSE(fs::exists(elsewhere / "empty.jar"));

  // A link in the place of an archive is replaced by the archive, not written through.
  fs::remove(folder);
  fs::create_directories(folder);
  fs::create_symlink(elsewhere / "x.jar", folder / "x.jar");
  const RunResult replaced = RunApp(app, "print:started");
  EXPECT_TRUE(replaced.dialogs.empty()) << testing::PrintToString(Shown(replaced));
  EXPECT_FALSE(fs::is_symlink(folder / "x.jar"));
  EXPECT_EQ(ReadAll(folder / "x.jar"), "first archive");
  EXPECT_EQ(ReadAll(elsewhere / "x.jar"), "precious");
}

}  // namespace
