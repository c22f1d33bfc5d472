// Archives carried in a launcher: written into the temporary folder at start, put on the class path,
// left alone when unchanged, and removed by the clean-up child. Crafted resources and planted links
// show that nothing is written or deleted outside the temporary folder.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

using namespace corvane::test;

// An archive for the project: its name, its bytes and its last-write time in 100 ns steps after the
// Unix epoch (so that the exact time can be compared).
struct Carried {
  std::string name, data;
  int64_t ticks = 17000000000000000;
};
const std::vector<Carried> TwoArchives = {{"x.jar", "first archive", 17000000001234567}, {"empty.jar", ""}};
const std::string ModeOne = "TempDirMode = 1\nClassPath = \"scenario-app.jar\"\n";

fs::file_time_type TimeOf(int64_t ticks) {
  using namespace std::chrono;
  return file_clock::from_sys(sys_time<nanoseconds>(nanoseconds(ticks * 100)));
}
std::string Le32(uint32_t value) {
  std::string out;
  for (int i = 0; i < 4; ++i) out += static_cast<char>(value >> (8 * i));
  return out;
}
// One entry of the archive resource as a tool that does not check names or sizes would write it.
std::string RawEntry(const std::string& name, const std::string& data, uint32_t size) {
  return name + std::string(1, '\0') + Le32(0x12345678) + Le32(0x01D9AAAA) + Le32(size) + data;
}
void PutArchiveResource(const fs::path& exe, const std::string& bytes) {
  EditResources(exe, [&](builder::ResourceTree& tree) {
    tree.Remove(builder::ResourceType::RawData, builder::ResourceKey::Id(1));
    tree.Put(builder::ResourceType::RawData, builder::ResourceKey::Id(1), 0, builder::Bytes(bytes.begin(), bytes.end()));
  });
}
size_t Entries(const fs::path& folder) { return std::distance(fs::directory_iterator(folder), fs::directory_iterator()); }

class Archives : public WineTest {
 protected:
  // Writes <folder>/app.exe with corvane-build from these settings (besides the base ones) and archives.
  static void BuildInto(const fs::path& folder, const std::string& settings, const std::vector<Carried>& archives) {
    fs::create_directories(folder / "sources");
    std::ofstream project(folder / "project.toml");
    project << "[settings]\nJvmSearchOrder = \"0\"\nJvmPath = \"jre\\\\bin\\\\server\\\\jvm.dll\"\nMainClass = "
               "\"corvane.test.ScenarioApp\"\nStdOutMode = 0\nStdErrMode = 0\nAllowMultipleInstances = true\nSplashUntilWindow = false\n"
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
    AppFolder app = MakeAppFolder("", "", name);
    BuildInto(app.folder, settings, archives);
    return app;
  }
};

// The application sees both archives, with their bytes and times, after the configured class path,
// in the program's folder (mode 0) or the temporary folder beside it (1); a second start writes nothing.
TEST_F(Archives, TheApplicationSeesTheArchivesInTheConfiguredFolderAndUnchangedOnesAreNotRewritten) {
  for (const std::string mode : {"0", "1"}) {
    SCOPED_TRACE(mode);
    const AppFolder app = ArchiveApp("TempDirMode = " + mode + "\nClassPath = \"scenario-app.jar\"\n", TwoArchives, mode);
    const RunResult result = RunApp(app, "prop:java.class.path");
    EXPECT_TRUE(result.dialogs.empty()) << testing::PrintToString(Shown(result));
    const std::string folder = mode == "0" ? "." : ".\\" + ScenarioTempName();
    EXPECT_EQ(Lines(result.output), Texts{"prop java.class.path=scenario-app.jar;" + folder + "\\x.jar;" + folder + "\\empty.jar"});
    const fs::path written = mode == "0" ? app.folder : app.folder / ScenarioTempName();
    EXPECT_EQ(ReadAll(written / "x.jar"), "first archive");
    EXPECT_EQ(fs::last_write_time(written / "x.jar"), TimeOf(TwoArchives[0].ticks));
    EXPECT_TRUE(fs::exists(written / "empty.jar") && fs::file_size(written / "empty.jar") == 0u);
    // Same size and time, other bytes: a launcher that rewrote unchanged archives would put them back.
    std::ofstream(written / "x.jar", std::ios::binary | std::ios::in) << "F";
    fs::last_write_time(written / "x.jar", TimeOf(TwoArchives[0].ticks));
    EXPECT_TRUE(RunApp(app, "print:second").dialogs.empty());
    EXPECT_EQ(ReadAll(written / "x.jar"), "First archive");
  }
}

// A rebuilt launcher rewrites an archive whose time changed, but one held open elsewhere (another
// launcher, a running JVM) is kept without a report; nothing of the writing is left behind.
TEST_F(Archives, ChangedArchivesAreRewrittenButAHeldOneIsKept) {
  const AppFolder app = ArchiveApp(ModeOne);
  const fs::path folder = app.folder / ScenarioTempName();
  EXPECT_EQ(RunApp(app, "print:first").exitCode, 0u);
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
  EXPECT_EQ(Lines(rebuilt.output), Texts{"prop java.class.path=scenario-app.jar;" + path + "\\x.jar;" + path + "\\empty.jar"});
  EXPECT_EQ(ReadAll(folder / "x.jar"), "first archive");
  EXPECT_EQ(fs::last_write_time(folder / "empty.jar"), TimeOf(17000000008888888));
  fs::remove(folder / "x.jar.held");
  fs::remove(folder / "x.jar.release");
  EXPECT_EQ(Entries(folder), 2u);
}

// After System.exit the clean-up child removes the one archive from the program's folder, but not
// the user's file of that name in the working folder (the VM opened its class path before WorkingDir
// took effect).
TEST_F(Archives, AfterSystemExitTheCleanupChildRemovesTheArchiveButNotTheUsersFile) {
  const AppFolder app = ArchiveApp(
      "TempDirMode = 0\nRemoveTempArchives = true\nWorkingDir = \"data\"\nClassPath = \"scenario-app.jar\"\n",
      {TwoArchives[0]});
  fs::create_directories(app.folder / "data");
  std::ofstream(app.folder / "data" / "x.jar") << "the user's own";
  const RunResult result = RunApp(app, "print:running exit:5");
  EXPECT_EQ(result.exitCode, 5u) << result.output;
  EXPECT_TRUE(Has(Lines(result.output), "out running")) << result.output;
  EXPECT_TRUE(WaitUntil([&] { return !fs::exists(app.folder / "x.jar"); })) << "the archive was not removed";
  EXPECT_EQ(ReadAll(app.folder / "data" / "x.jar"), "the user's own");
  EXPECT_TRUE(fs::exists(app.folder / "app.exe"));
}

// A damaged resource is not used at all; names that are no plain file names are refused with one
// report and the good archive is used. The clean-up child deletes only what lies inside the folder:
// at once for an ended parent (with one argument more it is no clean-up child), only after a living
// parent has ended.
TEST_F(Archives, CraftedNamesNeverLeaveTheFolderAndTheCleanupChildWaitsForALivingParent) {
  const AppFolder app = ArchiveApp(ModeOne);
  const fs::path folder = app.folder / ScenarioTempName();
  ASSERT_NO_FATAL_FAILURE(PutArchiveResource(
      app.folder / "app.exe", Le32(2) + RawEntry("ok.jar", "fine", 4) + RawEntry("long.jar", "short", 0x7FFFFFFF)));
  const RunResult damaged = RunApp(app, "prop:java.class.path");
  EXPECT_EQ(Shown(damaged), Texts{"Error: The carried archives were not extracted: the program's archive resource is damaged."});
  EXPECT_EQ(Lines(damaged.output), Texts{"prop java.class.path=scenario-app.jar"});
  EXPECT_EQ(damaged.exitCode, 0u);
  EXPECT_FALSE(fs::exists(folder / "ok.jar"));

  ASSERT_NO_FATAL_FAILURE(PutArchiveResource(app.folder / "app.exe",
                                             Le32(4) + RawEntry("..\\evil.jar", "evil", 4) + RawEntry("ok.jar", "fine", 4) +
                                                 RawEntry("CON", "device", 6) + RawEntry("", "nameless", 8)));
  const RunResult result = RunApp(app, "prop:java.class.path");
  ASSERT_EQ(Shown(result), Texts{"Error: The carried archive \"..\\evil.jar\" was not extracted: its name is not a plain file name."});
  EXPECT_TRUE(Has(Lines(result.output), "prop java.class.path=scenario-app.jar;.\\" + ScenarioTempName() + "\\ok.jar"))
      << result.output;
  EXPECT_EQ(ReadAll(folder / "ok.jar"), "fine");
  EXPECT_FALSE(fs::exists(app.folder / "evil.jar"));
  EXPECT_EQ(Entries(folder), 1u);

  std::ofstream(app.folder / "evil.jar") << "not ours";
  RunOptions bounded;
  bounded.timeout = 20s;  // far less than the 30 s it would wait for a living parent
  const RunResult child = RunApp(app, "-cvremovetemporaryjarfiles 4000000000", bounded);
  EXPECT_TRUE(!child.timedOut && child.exitCode == 0u && child.dialogs.empty()) << testing::PrintToString(Shown(child));
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_EQ(ReadAll(app.folder / "evil.jar"), "not ours");

  const RunResult normal = RunApp(app, "-cvremovetemporaryjarfiles 4000000000 args");
  EXPECT_TRUE(Has(Lines(normal.output), "arg 0 [-cvremovetemporaryjarfiles]")) << normal.output;
  ASSERT_TRUE(fs::exists(folder / "ok.jar"));
  // The holder stands in for a parent that still runs.
  std::ofstream(app.folder / "parent") << "";
  RunOptions inFolder;
  inFolder.workDir = app.folder.string();
  auto parent = Session().Start(Quote(FixtureProgram("cvholdfile")) + " parent", inFolder);
  ASSERT_TRUE(WaitUntil([&] { return !ReadAll(app.folder / "parent.held").empty(); }));
  auto waiting = StartApp(app, "-cvremovetemporaryjarfiles " + ReadAll(app.folder / "parent.held"));
  ASSERT_TRUE(WaitUntil([&] {
    const Texts running = Session().Processes();
    return std::any_of(running.begin(), running.end(),
                       [](const std::string& line) { return line.find("-cvremovetemporaryjarfiles") != std::string::npos; });
  }));
  // Not synchronisation: that the child keeps waiting can only be seen over a time, once it runs.
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
  EXPECT_EQ(Shown(linked)[0].rfind("Error: Error writing to file/directory: .\\" + ScenarioTempName() + "\n\n", 0), 0u)
      << Shown(linked)[0];
  EXPECT_TRUE(Has(Lines(linked.output), "prop java.class.path=scenario-app.jar")) << linked.output;
  EXPECT_EQ(linked.exitCode, 0u);
  EXPECT_EQ(RunApp(app, "-cvremovetemporaryjarfiles 4000000000").exitCode, 0u);
  EXPECT_EQ(ReadAll(elsewhere / "x.jar"), "precious");
  EXPECT_FALSE(fs::exists(elsewhere / "empty.jar"));
  // A link in the place of an archive is replaced by the archive, not written through.
  fs::remove(folder);
  fs::create_directories(folder);
  fs::create_symlink(elsewhere / "x.jar", folder / "x.jar");
  EXPECT_TRUE(RunApp(app, "print:started").dialogs.empty());
  EXPECT_FALSE(fs::is_symlink(folder / "x.jar"));
  EXPECT_EQ(ReadAll(folder / "x.jar"), "first archive");
  EXPECT_EQ(ReadAll(elsewhere / "x.jar"), "precious");
}

}  // namespace
