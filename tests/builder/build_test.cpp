// Whole builds: launchers written by corvane-build against the launchers windres compiles from the
// same project files, the command line, determinism and signing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <sys/wait.h>
#include <nlohmann/json.hpp>

#include "base/setting_table.h"
#include "launcher_build.h"
#include "pe_image.h"
#include "project.h"
#include "string_tables.h"

namespace {

using namespace corvane::builder;
namespace fs = std::filesystem;

fs::path Win64Dir() {
  const char* dir = std::getenv("CORVANE_WIN64_DIR");
  return dir != nullptr ? fs::path(dir) : fs::path();
}
fs::path Stub() { return Win64Dir() / "resources" / "corvane.exe"; }
fs::path Source(const std::string& relative) { return fs::path(CORVANE_SOURCE_DIR) / relative; }

fs::path TestDir() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  const fs::path dir = fs::path(CORVANE_TEST_TMP) / "build" / info->test_suite_name() / info->name();
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

struct CommandResult {
  int status = -1;
  std::string output;
};

// Runs a shell command; standard error joins standard output.
CommandResult Shell(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof(chunk), pipe)) > 0) result.output.append(chunk, n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

CommandResult Tool(const std::string& arguments) { return Shell(Quote(CORVANE_BUILD_TOOL) + " " + arguments); }

Bytes Read(const fs::path& path) {
  Bytes bytes;
  EXPECT_FALSE(ReadFile(path, bytes).has_value()) << path;
  return bytes;
}

ResourceTree ResourcesOf(const Bytes& file) {
  PeImage image;
  ResourceTree tree;
  Error bad = PeImage::Parse(file, image);
  EXPECT_FALSE(bad.has_value()) << *bad;
  if (!bad) bad = image.ReadResources(tree);
  EXPECT_FALSE(bad.has_value()) << *bad;
  return tree;
}

std::string Describe(const Resource& r) {
  return "type " + std::to_string(r.type.id) + " name " + std::to_string(r.name.id) + " language " +
         std::to_string(r.language);
}

// Every resource of one tree is in the other with the same bytes.
void ExpectSameResources(const ResourceTree& expected, const ResourceTree& actual) {
  for (const Resource& r : expected.All()) {
    const Resource* other = actual.Find(r.type, r.name, r.language);
    ASSERT_NE(other, nullptr) << "missing: " << Describe(r);
    EXPECT_EQ(other->data, r.data) << "differs: " << Describe(r);
  }
  for (const Resource& r : actual.All()) {
    EXPECT_NE(expected.Find(r.type, r.name, r.language), nullptr) << "extra: " << Describe(r);
  }
}

Bytes BuildWith(const std::vector<fs::path>& projectFiles, std::optional<uint32_t> stamp = std::nullopt) {
  Project project;
  for (const fs::path& file : projectFiles) {
    const Error bad = ApplyProjectFile(file, project);
    EXPECT_FALSE(bad.has_value()) << *bad;
  }
  Bytes launcher;
  const Error bad = BuildLauncher(project, Read(Stub()), stamp, launcher);
  EXPECT_FALSE(bad.has_value()) << *bad;
  return launcher;
}

TEST(Build, TheStubsOwnProjectGivesBackTheStubsResources) {
  const Bytes stub = Read(Stub());
  ExpectSameResources(ResourcesOf(stub), ResourcesOf(BuildWith({Source("resources/launcher.toml")})));
}

// Resources as an independent reader (wrestool) lists and extracts them: "type/name/language" to bytes.
std::map<std::string, std::string> WrestoolResources(const fs::path& file) {
  std::map<std::string, std::string> resources;
  const CommandResult list = Shell("wrestool -l " + Quote(file));
  EXPECT_EQ(list.status, 0) << list.output;
  std::istringstream lines(list.output);
  for (std::string line; std::getline(lines, line);) {
    // --type=6 --name=63 --language=0 [type=string offset=0x... size=196]
    const std::string selector = line.substr(0, line.find(" ["));
    if (selector.rfind("--type=", 0) != 0) continue;
    const CommandResult data = Shell("wrestool -x --raw " + selector + " " + Quote(file) + " 2>/dev/null");
    resources[selector] = data.output;
  }
  return resources;
}

// For every scenario of the end-to-end tests, the launcher corvane-build writes carries exactly the
// resources of the launcher windres compiled from the same project file, as wrestool reads them.
TEST(Build, EveryScenarioMatchesItsWindresLauncher) {
  int scenarios = 0;
  const fs::path dir = TestDir();
  for (const auto& entry : fs::directory_iterator(Source("tests/scenarios"))) {
    if (entry.path().extension() != ".toml") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const fs::path windres = Win64Dir() / "tests" / "scenarios" / ("scenario-" + entry.path().stem().string() + ".exe");
    const fs::path built = dir / (entry.path().stem().string() + ".exe");
    const Bytes launcher = BuildWith({entry.path()});
    ASSERT_FALSE(WriteFileAtomically(built, launcher));
    const auto expected = WrestoolResources(windres);
    EXPECT_GE(expected.size(), 8u) << "string tables, dialog, icons, bitmap, manifest at least";
    EXPECT_EQ(WrestoolResources(built), expected);
    ExpectSameResources(ResourcesOf(Read(windres)), ResourcesOf(launcher));
    ++scenarios;
  }
  EXPECT_GE(scenarios, 7);
}

TEST(Build, KeysLeftOutKeepTheStubsValues) {
  const fs::path dir = TestDir();
  std::ofstream(dir / "p.toml") << "[settings]\nServiceName = \"Demo\"\n[messages]\n21 = \"Services only.\"\n";
  const ResourceTree tree = ResourcesOf(BuildWith({dir / "p.toml"}));
  StringEntries settings, messages;
  ASSERT_FALSE(ReadStringTable(tree, 0, settings));
  ASSERT_FALSE(ReadStringTable(tree, 3081, messages));
  EXPECT_EQ(settings.at(IdServiceName), u"Demo");
  EXPECT_EQ(settings.at(IdClassPath), u"Lumera.jar");
  EXPECT_EQ(messages.at(21), u"Services only.");
  EXPECT_EQ(messages.at(1), u"An instance of this program is already running.");
}

TEST(Build, ATranslationMissingAMessageSaysItInEnglish) {
  const fs::path dir = TestDir();
  std::ofstream(dir / "p.toml") << "[messages.translations.1031]\n1 = \"L\\u00e4uft bereits.\"\n";
  StringEntries german;
  ASSERT_FALSE(ReadStringTable(ResourcesOf(BuildWith({dir / "p.toml"})), 1031, german));
  EXPECT_EQ(german.at(1), u"L\u00e4uft bereits.");
  EXPECT_EQ(german.at(21), u"This program can only be run as a service.");
}

TEST(Build, TheSameInputsGiveTheSameBytes) {
  const Bytes first = BuildWith({Source("tests/scenarios/branded.toml")});
  const Bytes second = BuildWith({Source("tests/scenarios/branded.toml")});
  EXPECT_EQ(first, second);
  PeImage image;
  ASSERT_FALSE(PeImage::Parse(BuildWith({Source("tests/scenarios/branded.toml")}, 1700000000u), image));
  EXPECT_EQ(image.TimeDateStamp(), 1700000000u);
}

TEST(BuildCommand, WritesTheLauncherAndInspectGivesTheProjectBack) {
  const fs::path dir = TestDir();
  std::ofstream(dir / "a.jar") << "archive bytes";
  std::ofstream(dir / "p.toml") << "[settings]\nMainClass = \"org.example.Tool\"\nSplashSeconds = 3\n"
                                   "AllowMultipleInstances = true\n[archives]\nfiles = [\"a.jar\"]\n";
  const CommandResult build = Tool("build " + Quote(dir / "p.toml") + " -o " + Quote(dir / "Tool.exe") +
                                   " --stub " + Quote(Stub()));
  ASSERT_EQ(build.status, 0) << build.output;
  const CommandResult inspect = Tool("inspect --json " + Quote(dir / "Tool.exe"));
  ASSERT_EQ(inspect.status, 0) << inspect.output;
  const nlohmann::json report = nlohmann::json::parse(inspect.output);
  EXPECT_EQ(report["settings"]["MainClass"]["value"], "org.example.Tool");
  EXPECT_EQ(report["settings"]["SplashSeconds"]["value"], 3);
  EXPECT_EQ(report["settings"]["AllowMultipleInstances"]["value"], true);
  EXPECT_EQ(report["settings"]["ClassPath"]["value"], "Lumera.jar");
  EXPECT_EQ(report["archives"][0]["name"], "a.jar");
  EXPECT_EQ(report["archives"][0]["size"], 13);
  EXPECT_EQ(report["messages"]["3081"]["1"], "An instance of this program is already running.");
  const CommandResult text = Tool("inspect " + Quote(dir / "Tool.exe"));
  EXPECT_NE(text.output.find("  MainClass = \"org.example.Tool\"\n"), std::string::npos) << text.output;
  EXPECT_NE(text.output.find("  a.jar, 13 bytes, "), std::string::npos) << text.output;
}

struct FailingBuild {
  const char* name;
  std::string project;
  std::string stub;  // "" for the real stub
  std::string error;
};

class BuildCommandFailure : public testing::TestWithParam<FailingBuild> {};

// A failed build says why, ends with status 1 and leaves neither the launcher nor a temporary file.
TEST_P(BuildCommandFailure, SaysWhyAndWritesNothing) {
  const fs::path dir = TestDir();
  std::ofstream(dir / "p.toml") << GetParam().project;
  std::ofstream(dir / "notes.txt") << "not a program";
  const fs::path stub = GetParam().stub.empty() ? Stub() : dir / GetParam().stub;
  if (GetParam().stub == "plain.exe") fs::copy_file(Win64Dir() / "tests" / "fixtures" / "cvsystemtext.exe", stub);
  const CommandResult result =
      Tool("build " + Quote(dir / "p.toml") + " -o " + Quote(dir / "App.exe") + " --stub " + Quote(stub));
  EXPECT_EQ(result.status, 1) << result.output;
  EXPECT_NE(result.output.find(GetParam().error), std::string::npos) << result.output;
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) files += entry.path().filename().string().rfind("App.exe", 0) == 0;
  EXPECT_EQ(files, 0) << "nothing named App.exe* may be left";
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, BuildCommandFailure,
    testing::Values(
        FailingBuild{"MissingArchive", "[archives]\nfiles = [\"gone.jar\"]\n", "", "gone.jar\" does not exist"},
        FailingBuild{"DuplicateArchiveName", "[archives]\nfiles = [\"notes.txt\", { file = \"p.toml\", name = \"notes.txt\" }]\n",
                     "", "archive name \"notes.txt\" is used twice"},
        FailingBuild{"UnreadableIcon", "[resources]\nicon = \"notes.txt\"\n", "", "icon "},
        FailingBuild{"MissingIcon", "[resources]\nicon = \"gone.ico\"\n", "", "gone.ico: cannot be read"},
        FailingBuild{"MalformedSplash", "[resources]\nsplash = \"notes.txt\"\n", "", "splash "},
        FailingBuild{"StubThatIsNoProgram", "", "notes.txt", "the stub "},
        FailingBuild{"StubThatIsNoLauncher", "", "plain.exe", "is not a launcher stub"},
        FailingBuild{"MissingStub", "", "gone.exe", "gone.exe: cannot be read"},
        FailingBuild{"BadSetting", "[settings]\nSplashSeconds = -2\n", "", "p.toml:2: settings.SplashSeconds: must not be negative"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BuildCommand, SourceDateEpochFixesTheTimeStamp) {
  const fs::path dir = TestDir();
  std::ofstream(dir / "p.toml") << "[settings]\nServiceName = \"Demo\"\n";
  const std::string build = "build " + Quote(dir / "p.toml") + " --stub " + Quote(Stub()) + " -o ";
  ASSERT_EQ(Shell("SOURCE_DATE_EPOCH=1234567890 " + Quote(CORVANE_BUILD_TOOL) + " " + build + Quote(dir / "a.exe")).status, 0);
  PeImage image;
  ASSERT_FALSE(PeImage::Parse(Read(dir / "a.exe"), image));
  EXPECT_EQ(image.TimeDateStamp(), 1234567890u);
  const CommandResult bad = Shell("SOURCE_DATE_EPOCH=soon " + Quote(CORVANE_BUILD_TOOL) + " " + build + Quote(dir / "b.exe"));
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.output.find("SOURCE_DATE_EPOCH"), std::string::npos) << bad.output;
}

// The template proposes the wider search order; with the stub's own order it builds the stub's
// launcher again.
TEST(BuildCommand, InitWritesATemplateThatBuildsTheStubsLauncher) {
  const fs::path dir = TestDir();
  ASSERT_EQ(Tool("init -o " + Quote(dir / "new.toml") + " --stub " + Quote(Stub())).status, 0);
  const CommandResult again = Tool("init -o " + Quote(dir / "new.toml") + " --stub " + Quote(Stub()));
  EXPECT_EQ(again.status, 1) << "an existing file is kept";
  Project project;
  const Error bad = ApplyProjectFile(dir / "new.toml", project);
  ASSERT_FALSE(bad.has_value()) << *bad;
  EXPECT_EQ(project.settings.size(), SettingCount) << "every setting is in the template";
  EXPECT_EQ(project.settings[IdJvmSearchOrder], "0678123459");
  std::ofstream(dir / "stub-order.toml") << "[settings]\nJvmSearchOrder = \"012345\"\n";
  ExpectSameResources(ResourcesOf(Read(Stub())), ResourcesOf(BuildWith({dir / "new.toml", dir / "stub-order.toml"})));
}

// The output can be signed afterwards, and a signed stub gives an unsigned launcher that can be
// signed again.
TEST(BuildCommand, LaunchersCanBeSigned) {
  const fs::path dir = TestDir();
  ASSERT_EQ(Shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=corvane-test -keyout " +
                  Quote(dir / "key.pem") + " -out " + Quote(dir / "cert.pem"))
                .status,
            0);
  auto sign = [&](const fs::path& in, const fs::path& out) {
    return Shell("osslsigncode sign -certs " + Quote(dir / "cert.pem") + " -key " + Quote(dir / "key.pem") +
                 " -in " + Quote(in) + " -out " + Quote(out));
  };
  auto verify = [&](const fs::path& file) {
    return Shell("osslsigncode verify -CAfile " + Quote(dir / "cert.pem") + " -in " + Quote(file));
  };
  std::ofstream(dir / "p.toml") << "[settings]\nServiceName = \"Demo\"\n";
  ASSERT_EQ(Tool("build " + Quote(dir / "p.toml") + " --stub " + Quote(Stub()) + " -o " + Quote(dir / "a.exe")).status, 0);
  ASSERT_EQ(sign(dir / "a.exe", dir / "a-signed.exe").status, 0);
  const CommandResult verified = verify(dir / "a-signed.exe");
  EXPECT_EQ(verified.status, 0) << verified.output;

  ASSERT_EQ(Tool("build " + Quote(dir / "p.toml") + " --stub " + Quote(dir / "a-signed.exe") + " -o " + Quote(dir / "b.exe")).status, 0);
  PeImage image;
  ASSERT_FALSE(PeImage::Parse(Read(dir / "b.exe"), image));
  EXPECT_FALSE(image.HasSignature());
  EXPECT_NE(verify(dir / "b.exe").status, 0) << "the old signature is gone";
  ASSERT_EQ(sign(dir / "b.exe", dir / "b-signed.exe").status, 0);
  EXPECT_EQ(verify(dir / "b-signed.exe").status, 0);
}

}  // namespace
