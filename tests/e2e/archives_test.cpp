// Archives carried in a launcher made by corvane-build: written into the temporary folder at start,
// put on the class path, left alone when unchanged, and removed by the clean-up child. Crafted
// resources show that nothing is written or deleted outside the temporary folder.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

using namespace corvane::test;

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

// Replaces the archive resource of a launcher with crafted bytes.
void PutArchiveResource(const fs::path& exe, const std::string& bytes) {
  EditResources(exe, [&](builder::ResourceTree& tree) {
    tree.Remove(builder::ResourceType::RawData, builder::ResourceKey::Id(1));
    tree.Put(builder::ResourceType::RawData, builder::ResourceKey::Id(1), 0,
             builder::Bytes(bytes.begin(), bytes.end()));
  });
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

const std::vector<Carried> TwoArchives = {{"x.jar", "first archive", 17000000001234567}, {"empty.jar", ""}};
const std::string ModeOne = "TempDirMode = 1\nClassPath = \"scenario-app.jar\"\n";

class Archives : public WineTest {
 protected:
  // Writes app.exe into `folder` from a project with these settings (besides the base ones) and
  // archives, made by corvane-build.
  static void BuildInto(const fs::path& folder, const std::string& settings, const std::vector<Carried>& archives) {
    fs::create_directories(folder / "sources");
    std::ofstream project(folder / "project.toml");
    project << "[settings]\nJvmSearchOrder = \"0\"\nJvmPath = \"jre\\\\bin\\\\server\\\\jvm.dll\"\n"
               "MainClass = \"corvane.test.ScenarioApp\"\nStdOutMode = 0\nStdErrMode = 0\n"
               "AllowMultipleInstances = true\nSplashUntilWindow = false\n"
            << settings << "\n[archives]\nfiles = [";
    for (const Carried& archive : archives) {
      const fs::path file = folder / "sources" / archive.name;
      std::ofstream(file, std::ios::binary) << archive.data;
      fs::last_write_time(file, TimeOf(archive.ticks));
      project << "{ file = \"" << file.string() << "\" }, ";
    }
    project << "]\n";
    project.close();
    fs::remove(folder / "app.exe");
    Build(folder / "project.toml", folder / "app.exe");
  }

  static AppFolder ArchiveApp(const std::string& settings, const std::vector<Carried>& archives = TwoArchives,
                              const std::string& name = "app") {
    const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    AppFolder app{Session().FreshDir(test + "/" + name), ""};
    BuildInto(app.folder, settings, archives);
    fs::copy_file(std::getenv("CORVANE_SCENARIO_JAR"), app.folder / "scenario-app.jar");
    PutRuntime(app.folder / "jre");
    app.launcher = WindowsPath((app.folder / "app.exe").string());
    return app;
  }

  // Runs the application of `app`, which prints where the archives went and its class path, and
  // checks that they follow the configured class path. The folder they went to.
  static fs::path ExpectExtracted(const AppFolder& app, int mode, const std::string& classPath) {
    const RunResult result = RunApp(app, "prop:corvane.extract.path prop:java.class.path");
    EXPECT_TRUE(result.dialogs.empty()) << testing::PrintToString(Shown(result));
    const std::vector<std::string> lines = Lines(result.output);
    const std::string prefix = "prop corvane.extract.path=";
    if (lines.size() != 2 || lines[0].rfind(prefix, 0) != 0) {
      ADD_FAILURE() << result.output;
      return {};
    }
    const std::string folder = lines[0].substr(prefix.size());
    const std::string separator = classPath.back() == ';' ? "" : ";";
    EXPECT_EQ(lines[1], "prop java.class.path=" + classPath + separator + folder + "\\x.jar;" + folder + "\\empty.jar");
    // The Linux path of the folder: mode 2 gives a path on drive C: of the prefix.
    std::string rest = folder.substr(std::min<size_t>(3, folder.size()));
    std::replace(rest.begin(), rest.end(), '\\', '/');
    const fs::path written = mode == 2   ? fs::path(Session().Prefix()) / "drive_c" / rest
                             : mode == 1 ? app.folder / ScenarioTempName()
                                         : app.folder;
    EXPECT_EQ(ReadAll(written / "x.jar"), "first archive");
    EXPECT_EQ(fs::last_write_time(written / "x.jar"), TimeOf(TwoArchives[0].ticks));
    EXPECT_TRUE(fs::exists(written / "empty.jar") && fs::file_size(written / "empty.jar") == 0u);
    return written;
  }
};

TEST_F(Archives, TheApplicationSeesTheArchivesInTheConfiguredFolderAfterItsClassPath) {
  ExpectExtracted(ArchiveApp("TempDirMode = 2\nClassPath = \"scenario-app.jar;\"\n", TwoArchives, "temp"), 2,
                  "scenario-app.jar;");
  ExpectExtracted(ArchiveApp("TempDirMode = 0\nClassPath = \"scenario-app.jar\"\n", TwoArchives, "program"), 0,
                  "scenario-app.jar");
}

// A second start writes nothing; a rebuilt launcher rewrites an archive whose time changed, but one
// held open elsewhere (another launcher, a running JVM) is kept without a report.
TEST_F(Archives, OnlyChangedArchivesAreRewrittenAndAHeldOneIsKept) {
  const AppFolder app = ArchiveApp(ModeOne);
  const fs::path folder = ExpectExtracted(app, 1, "scenario-app.jar");
  // Same size and time, other bytes: a launcher that rewrote unchanged archives would put them back.
  std::ofstream(folder / "x.jar", std::ios::binary | std::ios::in) << "F";
  fs::last_write_time(folder / "x.jar", TimeOf(TwoArchives[0].ticks));
  const RunResult second = RunApp(app, "print:second");
  EXPECT_TRUE(second.dialogs.empty()) << testing::PrintToString(Shown(second));
  EXPECT_EQ(ReadAll(folder / "x.jar"), "First archive");

  RunOptions inFolder;
  inFolder.workDir = app.folder.string();
  auto holder = Session().Start(Quote(FixtureProgram("cvholdfile")) + " " + Quote(WindowsPath((folder / "x.jar").string())),
                                inFolder);
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(folder / "x.jar.held"); })) << "the file was never held";
  BuildInto(app.folder, ModeOne, {{"x.jar", "FIRST ARCHIVE", 17000000009999999}, {"empty.jar", "", 17000000008888888}});
  const RunResult rebuilt = RunApp(app, "prop:java.class.path");
  std::ofstream(folder / "x.jar.release") << "";
  EXPECT_EQ(holder->Wait().exitCode, 0u);
  EXPECT_TRUE(rebuilt.dialogs.empty()) << testing::PrintToString(Shown(rebuilt));
  const std::string path = ".\\" + ScenarioTempName();
  EXPECT_EQ(Lines(rebuilt.output),
            std::vector<std::string>{"prop java.class.path=scenario-app.jar;" + path + "\\x.jar;" + path + "\\empty.jar"});
  EXPECT_EQ(ReadAll(folder / "x.jar"), "First archive");
  EXPECT_EQ(fs::last_write_time(folder / "empty.jar"), TimeOf(17000000008888888));
  // Nothing of the writing is left behind.
  fs::remove(folder / "x.jar.held");
  fs::remove(folder / "x.jar.release");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
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

// A damaged resource is not used at all; names that are no plain file names are refused with one report and the good archive is used; the
// clean-up child deletes only what lies inside the folder, at once for an ended parent (or with one
// argument more, no clean-up child at all), only after a living parent has ended.
TEST_F(Archives, CraftedNamesNeverLeaveTheFolderAndTheCleanupChildWaitsForALivingParent) {
  const AppFolder app = ArchiveApp(ModeOne);
  const fs::path folder = app.folder / ScenarioTempName();
  // A resource whose size lies is not used at all.
  ASSERT_NO_FATAL_FAILURE(PutArchiveResource(
      app.folder / "app.exe", Le32(2) + RawEntry("ok.jar", "fine", 4) + RawEntry("long.jar", "short", 0x7FFFFFFF)));
  const RunResult damaged = RunApp(app, "prop:java.class.path");
  EXPECT_EQ(Shown(damaged), std::vector<std::string>{"Error: The carried archives were not extracted: the program's "
                                                     "archive resource is damaged."});
  EXPECT_EQ(Lines(damaged.output), std::vector<std::string>{"prop java.class.path=scenario-app.jar"});
  EXPECT_EQ(damaged.exitCode, 0u);
  EXPECT_FALSE(fs::exists(folder / "ok.jar"));

  ASSERT_NO_FATAL_FAILURE(PutArchiveResource(app.folder / "app.exe", Le32(4) + RawEntry("..\\evil.jar", "evil", 4) +
                                                                         RawEntry("ok.jar", "fine", 4) +
                                                                         RawEntry("CON", "device", 6) +
                                                                         RawEntry("", "nameless", 8)));
  const RunResult result = RunApp(app, "prop:java.class.path");
  ASSERT_EQ(Shown(result), std::vector<std::string>{"Error: The carried archive \"..\\evil.jar\" was not extracted: "
                                                    "its name is not a plain file name."});
  EXPECT_TRUE(Has(Lines(result.output), "prop java.class.path=scenario-app.jar;.\\" + ScenarioTempName() + "\\ok.jar"))
      << result.output;
  EXPECT_EQ(ReadAll(folder / "ok.jar"), "fine");
  EXPECT_FALSE(fs::exists(app.folder / "evil.jar"));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

  std::ofstream(app.folder / "evil.jar") << "not ours";
  RunOptions bounded;
  bounded.timeout = 20s;  // far less than the 30 s it would wait for a living parent
  const RunResult child = RunApp(app, "-cvremovetemporaryjarfiles 4000000000", bounded);
  EXPECT_FALSE(child.timedOut);
  EXPECT_EQ(child.exitCode, 0u);
  EXPECT_TRUE(child.dialogs.empty()) << testing::PrintToString(Shown(child));
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_EQ(ReadAll(app.folder / "evil.jar"), "not ours");

  const RunResult normal = RunApp(app, "-cvremovetemporaryjarfiles 4000000000 args");
  EXPECT_TRUE(Has(Lines(normal.output), "arg 0 [-cvremovetemporaryjarfiles]")) << normal.output;
  ASSERT_TRUE(fs::exists(folder / "ok.jar"));
  // A parent that still runs is waited for: the holder stands in for it.
  std::ofstream(app.folder / "parent") << "";
  RunOptions inFolder;
  inFolder.workDir = app.folder.string();
  auto parent = Session().Start(Quote(FixtureProgram("cvholdfile")) + " parent", inFolder);
  ASSERT_TRUE(WaitUntil([&] { return !ReadAll(app.folder / "parent.held").empty(); }));
  auto waiting = StartApp(app, "-cvremovetemporaryjarfiles " + ReadAll(app.folder / "parent.held"));
  // Not synchronisation: that the child keeps waiting can only be seen over a time, once it runs.
  ASSERT_TRUE(WaitUntil([&] {
    const std::vector<std::string> running = Session().Processes();
    return std::any_of(running.begin(), running.end(),
                       [](const std::string& line) { return line.find("-cvremovetemporaryjarfiles") != std::string::npos; });
  }));
  std::this_thread::sleep_for(1s);
  EXPECT_TRUE(waiting->Running());
  EXPECT_TRUE(fs::exists(folder / "ok.jar")) << "deleted while the parent still ran";
  std::ofstream(app.folder / "parent.release") << "";
  EXPECT_EQ(parent->Wait().exitCode, 0u);
  EXPECT_EQ(waiting->Wait().exitCode, 0u);
  EXPECT_FALSE(fs::exists(folder));
}

TEST_F(Archives, LinksPlantedInTheTemporaryFolderAreNeverFollowed) {
  const AppFolder app = ArchiveApp(ModeOne);
  const fs::path folder = app.folder / ScenarioTempName(), elsewhere = app.folder / "elsewhere";
  fs::create_directories(elsewhere);
  std::ofstream(elsewhere / "x.jar") << "precious";

  // The folder itself is a link: nothing is written through it (the report says so and the
  // application still starts), and the clean-up deletes nothing.
  fs::create_directory_symlink(elsewhere, folder);
  const RunResult linked = RunApp(app, "prop:java.class.path");
  ASSERT_EQ(linked.dialogs.size(), 1u) << linked.output;
  EXPECT_EQ(linked.dialogs[0].Texts("static")[0].rfind("Error writing to file/directory: .\\" + ScenarioTempName() + "\n\n", 0),
            0u)
      << linked.dialogs[0].Texts("static")[0];
  EXPECT_TRUE(Has(Lines(linked.output), "prop java.class.path=scenario-app.jar")) << linked.output;
  EXPECT_EQ(linked.exitCode, 0u);
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
