// Whole builds against the launchers windres compiles from the same project files, the command line
// and what `inspect` reads back, determinism and signing.
#include <nlohmann/json.hpp>

#include "base/setting_table.h"
#include "launcher_build.h"
#include "support.h"

namespace corvane::builder {
namespace {

ResourceTree ResourcesOf(const Bytes& file) {
  PeImage image;
  ResourceTree tree;
  Error bad = PeImage::Parse(file, image);
  if (!bad) bad = image.ReadResources(tree);
  EXPECT_FALSE(bad.has_value()) << *bad;
  return tree;
}

// Every resource of one tree is in the other with the same bytes.
void ExpectSameResources(const ResourceTree& expected, const ResourceTree& actual) {
  EXPECT_EQ(expected.All().size(), actual.All().size());
  for (const Resource& r : expected.All()) {
    const Resource* other = actual.Find(r.type, r.name, r.language);
    ASSERT_NE(other, nullptr) << "missing: type " << r.type.id << " name " << r.name.id << " language " << r.language;
    EXPECT_EQ(other->data, r.data) << "differs: type " << r.type.id << " name " << r.name.id << " language " << r.language;
  }
}

Bytes BuildWith(const std::vector<fs::path>& projectFiles, std::optional<uint32_t> stamp = std::nullopt) {
  Project project;
  for (const fs::path& file : projectFiles) EXPECT_EQ(ApplyProjectFile(file, project), std::nullopt);
  Bytes launcher;
  const Error bad = BuildLauncher(project, Read(Stub()), stamp, launcher);
  EXPECT_FALSE(bad.has_value()) << *bad;
  return launcher;
}

// Every scenario's launcher carries the resources windres compiles from the same project file (keys
// left out keep the stub's values, a translation falls back to English); the stub's project the stub's.
TEST(Build, EveryScenarioMatchesItsWindresLauncher) {
  ExpectSameResources(ResourcesOf(Read(Stub())), ResourcesOf(BuildWith({Source("resources/launcher.toml")})));
  int scenarios = 0;
  for (const auto& entry : fs::directory_iterator(Source("tests/scenarios"))) {
    if (entry.path().extension() != ".toml") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const fs::path windres = Win64Dir() / "tests/scenarios" / ("scenario-" + entry.path().stem().string() + ".exe");
    ExpectSameResources(ResourcesOf(Read(windres)), ResourcesOf(BuildWith({entry.path()})));
    ++scenarios;
  }
  EXPECT_GE(scenarios, 7);
}

TEST(BuildCommand, WritesTheLauncherAndInspectGivesTheProjectBack) {
  const fs::path dir = TestDir();
  std::ofstream(dir / "a.jar") << "archive bytes";
  fs::last_write_time(dir / "a.jar", fs::file_time_type::clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(1000000000))));
  fs::copy_file(Source("tests/fixtures/images/mixed.ico"), dir / "app.ico");
  std::ofstream(dir / "p.toml") << "[settings]\nMainClass = \"org.example.Tool\"\nSplashSeconds = 3\nServiceOnly = true\n"
                                   "[archives]\nfiles = [\"a.jar\"]\n[resources]\nicon = \"app.ico\"\n[launcher]\nconsole = true\n";
  const Ran build = Tool("build " + Quote(dir / "p.toml") + " -o " + Quote(dir / "Tool.exe") + " --stub " + Quote(Stub()));
  ASSERT_EQ(build.status, 0) << build.output;
  const Ran inspect = Tool("inspect --json " + Quote(dir / "Tool.exe"));
  ASSERT_EQ(inspect.status, 0) << inspect.output;
  const nlohmann::json report = nlohmann::json::parse(inspect.output);
  EXPECT_EQ(report["settings"]["MainClass"]["value"], "org.example.Tool");
  EXPECT_EQ(report["settings"]["SplashSeconds"]["value"], 3);
  EXPECT_EQ(report["settings"]["ServiceOnly"]["value"], true);
  EXPECT_EQ(report["settings"]["ClassPath"]["value"], "Lumera.jar");
  EXPECT_EQ(report["archives"][0], nlohmann::json::parse(R"({"name": "a.jar", "size": 13, "time": "2001-09-09T01:46:40Z"})"));
  EXPECT_EQ(report["resources"]["icon"][0], "256x256");
  EXPECT_EQ(report["messages"]["3081"]["1"], "An instance of this program is already running.");
  EXPECT_NE(Tool("inspect " + Quote(dir / "Tool.exe")).output.find("  MainClass = \"org.example.Tool\"\n"), std::string::npos);
  EXPECT_EQ(report["launcher"]["console"], true);
  // A console launcher serves as a stub too, and the project may make it a windowed one again.
  std::ofstream(dir / "windowed.toml") << "[launcher]\nconsole = false\n";
  ASSERT_EQ(Tool("build " + Quote(dir / "windowed.toml") + " -o " + Quote(dir / "W.exe") + " --stub " + Quote(dir / "Tool.exe")).status, 0);
  EXPECT_NE(Tool("inspect " + Quote(dir / "W.exe")).output.find("Launcher:\n  console = false\n"), std::string::npos);
}

// A failed build says why, ends with status 1 and leaves neither the launcher nor a temporary file.
TEST(BuildCommand, AFailedBuildSaysWhyAndWritesNothing) {
  const struct { std::string project, stub, error; } cases[] = {
      {"[archives]\nfiles = [\"gone.jar\"]\n", "", "gone.jar\" does not exist"},
      {"[resources]\nicon = \"notes.txt\"\n", "", "icon "},
      {"", "plain.exe", "is not a launcher stub"},
      {"", "gone.exe", "gone.exe: cannot be read"},
      {"[settings]\nSplashSeconds = -2\n", "", "p.toml:2: settings.SplashSeconds: must not be negative"}};
  for (const auto& c : cases) {
    const fs::path dir = TestDir();
    std::ofstream(dir / "p.toml") << c.project;
    std::ofstream(dir / "notes.txt") << "not a program";
    if (c.stub == "plain.exe") fs::copy_file(Win64Dir() / "tests/fixtures/cvsystemtext.exe", dir / c.stub);
    const fs::path stub = c.stub.empty() ? Stub() : dir / c.stub;
    const Ran ran = Tool("build " + Quote(dir / "p.toml") + " -o " + Quote(dir / "App.exe") + " --stub " + Quote(stub));
    EXPECT_EQ(ran.status, 1) << ran.output;
    EXPECT_NE(ran.output.find(c.error), std::string::npos) << ran.output;
    for (const auto& entry : fs::directory_iterator(dir)) EXPECT_NE(entry.path().filename().string().rfind("App.exe", 0), 0u);
  }
}

TEST(BuildCommand, TheSameInputsGiveTheSameBytesAndSourceDateEpochTheTimeStamp) {
  EXPECT_EQ(BuildWith({Source("tests/scenarios/branded.toml")}), BuildWith({Source("tests/scenarios/branded.toml")}));
  const fs::path dir = TestDir();
  std::ofstream(dir / "p.toml") << "[settings]\nServiceName = \"Demo\"\n";
  const std::string build = Quote(CORVANE_BUILD_TOOL) + " build " + Quote(dir / "p.toml") + " --stub " + Quote(Stub()) + " -o ";
  ASSERT_EQ(Shell("SOURCE_DATE_EPOCH=4294967295 " + build + Quote(dir / "a.exe")).status, 0);
  PeImage image;
  ASSERT_FALSE(PeImage::Parse(Read(dir / "a.exe"), image));
  EXPECT_EQ(image.TimeDateStamp(), 4294967295u);
  for (const char* bad : {"4294967296", "soon"}) {
    const Ran ran = Shell(std::string("SOURCE_DATE_EPOCH=") + bad + " " + build + Quote(dir / "b.exe"));
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.output.find("SOURCE_DATE_EPOCH"), std::string::npos) << ran.output;
  }
}

// The template proposes the wider search order and the UTF-8 code page; with the stub's own order
// and code page it builds the stub's launcher again.
TEST(BuildCommand, InitWritesATemplateThatBuildsTheStubsLauncher) {
  const fs::path dir = TestDir();
  ASSERT_EQ(Tool("init -o " + Quote(dir / "new.toml") + " --stub " + Quote(Stub())).status, 0);
  EXPECT_EQ(Tool("init -o " + Quote(dir / "new.toml") + " --stub " + Quote(Stub())).status, 1) << "an existing file is kept";
  Project project;
  ASSERT_EQ(ApplyProjectFile(dir / "new.toml", project), std::nullopt);
  EXPECT_EQ(project.settings.size(), SettingCount) << "every setting is in the template";
  EXPECT_EQ(project.settings[IdJvmSearchOrder], "0678123459");
  EXPECT_TRUE(project.manifest && project.manifest->utf8CodePage);
  std::ofstream(dir / "stub-order.toml") << "[settings]\nJvmSearchOrder = \"012345\"\n[manifest]\nutf8 = false\n";
  ExpectSameResources(ResourcesOf(Read(Stub())), ResourcesOf(BuildWith({dir / "new.toml", dir / "stub-order.toml"})));
}

// A launcher can be signed afterwards; a signed stub gives an unsigned launcher that can be signed.
TEST(BuildCommand, LaunchersCanBeSigned) {
  const fs::path dir = TestDir();
  const std::string keys = " -certs " + Quote(dir / "cert.pem") + " -key " + Quote(dir / "key.pem");
  const std::string verify = "osslsigncode verify -CAfile " + Quote(dir / "cert.pem") + " -in ";
  ASSERT_EQ(Shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=t -keyout " + Quote(dir / "key.pem") + " -out " +
                  Quote(dir / "cert.pem")).status, 0);
  std::ofstream(dir / "p.toml") << "[settings]\nServiceName = \"Demo\"\n";
  for (const fs::path& stub : {Stub(), dir / "a-signed.exe"}) {
    const std::string name = (dir / (stub == Stub() ? "a" : "b")).string();
    ASSERT_EQ(Tool("build " + Quote(dir / "p.toml") + " --stub " + Quote(stub) + " -o " + Quote(name + ".exe")).status, 0);
    EXPECT_NE(Shell(verify + Quote(name + ".exe")).status, 0) << "no signature, not even the stub's";
    ASSERT_EQ(Shell("osslsigncode sign" + keys + " -in " + Quote(name + ".exe") + " -out " + Quote(name + "-signed.exe")).status, 0);
    EXPECT_EQ(Shell(verify + Quote(name + "-signed.exe")).status, 0);
  }
}

}  // namespace
}  // namespace corvane::builder
