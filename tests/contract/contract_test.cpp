// The contract between the real HotSpot VM and the fake jvm.dll. Every scenario of scenarios.txt
// runs through cv-contract twice, each in its own process: against HotSpot's libjvm.so on Linux,
// and under Wine against the fake. HotSpot's transcript must equal the reviewed one in expected/
// (so that a JDK that behaves differently is noticed), and the fake's must equal HotSpot's: these
// scenarios are the fake's tests.
//
// A transcript document holds the exit status, stdout, stderr (captured apart, never interleaved),
// the driver's transcript file and then the files the scenario names, read once the process has
// ended ("--- file NAME" and its lines, or "(missing)" or "(a folder)" after the name), normalised:
// - CRLF becomes LF (the fake writes Windows line ends);
// - stack lines (a tab, then "at " or "... N more") are left out: frames differ between a real VM
//   and any fake, and between JDK builds;
// - HotSpot's fatal error report (the block of '#' lines around its header) is cut to the header:
//   the rest holds the pid, addresses and paths, which change with every run;
// - the JVM library's file name (libjvm.so or jvm.dll) becomes "<jvm library>";
// - the system's reason that ends a FileNotFoundException's message becomes "(<reason>)": Linux
//   says "(Is a directory)" where Windows says "(Access is denied)" for the same folder;
// - bytes above 126 and controls other than tab are written \xHH, so that the documents are plain
//   ASCII and the bytes of the Windows-1252 scenario stay visible.
// Nothing of Wine's own output needs dropping: wine-run.sh runs with WINEDEBUG=-all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "scenario_file.h"

namespace fs = std::filesystem;

// Test names and failure messages show a scenario by its name.
void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

namespace {

constexpr char FatalErrorHeader[] = "# A fatal error has been detected by the Java Runtime Environment:";
constexpr char FileNotFoundHead[] = "java.io.FileNotFoundException: ";

std::string Env(const char* name) { return std::getenv(name) ? std::getenv(name) : ""; }

std::string ScenarioFilePath() { return std::string(CORVANE_CONTRACT_SOURCE_DIR) + "/scenarios.txt"; }
std::string HotSpotLibrary() { return Env("CORVANE_CONTRACT_JVM"); }
std::string FakeLibrary() { return Env("CORVANE_WIN64_DIR") + "/tests/fixtures/fake_jvm/jvm.dll"; }
std::string FakeDriver(bool utf8) { return Env("CORVANE_WIN64_DIR") + "/tests/contract/cv-contract" + (utf8 ? "-utf8.exe" : ".exe"); }
fs::path WorkDir() { return Env("CORVANE_CONTRACT_WORK"); }

// The file's bytes, or null when it cannot be read.
std::optional<std::string> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();  // a folder opens, but reading it fails: that sets failbit here, where an iterator throws
  return text.str();
}

// One captured stream or file, normalised as the file comment says.
std::string Normalise(const std::string& text, const std::string& libraryName) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("\tat ", 0) != 0 && line.rfind("\t... ", 0) != 0) lines.push_back(line);
  }
  if (auto header = std::find(lines.begin(), lines.end(), FatalErrorHeader); header != lines.end()) {
    auto first = header, last = header + 1;
    while (first != lines.begin() && first[-1].rfind('#', 0) == 0) --first;
    while (last != lines.end() && (last->empty() || last->rfind('#', 0) == 0)) ++last;
    lines.erase(first, lines.erase(header + 1, last) - 1);  // the '#' lines after the header, then before it
  }
  std::string out;
  for (std::string line : lines) {
    const size_t open = line.rfind(" (");
    if (line.rfind(FileNotFoundHead, 0) == 0 && line.back() == ')' && open != std::string::npos &&
        open >= sizeof(FileNotFoundHead) - 1)
      line.replace(open, std::string::npos, " (<reason>)");
    for (size_t at = line.find(libraryName); at != std::string::npos; at = line.find(libraryName, at))
      line.replace(at, libraryName.size(), "<jvm library>");
    for (unsigned char c : line)
      if ((c >= 0x20 || c == '\t') && c <= 0x7e) out += static_cast<char>(c);
      else out += {'\\', 'x', "0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15]};
    out += "\n";
  }
  return out;
}

struct RunResult {
  std::string fault;     // why the run could not be made; empty when it was
  std::string document;  // not yet normalised for the library's name
};

// Runs argv in the scenario's own folder `dir` with stdout and stderr to files, no core dumps, and
// an environment without the variables that make a JVM print more or behave otherwise; makes the
// scenario's entries first and records its named files after the process has ended.
RunResult RunProcess(const std::vector<std::string>& argv, const fs::path& dir, const Scenario& s,
                     const std::string& libraryName) {
  RunResult result;
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir, ec);
  if (!s.jar.empty()) fs::copy_file(Env("CORVANE_CONTRACT_JAR"), dir / s.jar, ec);
  for (const EntryBefore& e : s.before) {
    if (e.folder) fs::create_directory(dir / e.name, ec);
    if (!e.folder && !(std::ofstream(dir / e.name, std::ios::binary) << e.text << "\n")) ec = std::make_error_code(std::errc::io_error);
  }
  if (ec) return {"cannot prepare " + dir.string() + ": " + ec.message(), ""};
  const pid_t child = fork();
  if (child == 0) {
    const int out = open((dir / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open((dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (chdir(dir.c_str()) != 0 || out < 0 || err < 0 || in < 0) _exit(121);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (const char* name : {"JAVA_HOME", "JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS", "CLASSPATH"})
      unsetenv(name);
    setenv("LC_ALL", s.utf8 ? "C.UTF-8" : "C", 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(121);
  }
  int status = 0;
  while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) continue;
  if (child < 0 || !WIFEXITED(status) || WEXITSTATUS(status) == 121)
    return {"could not run " + argv[0] + (WIFSIGNALED(status) ? " (signal " + std::to_string(WTERMSIG(status)) + ")" : ""), ""};
  result.document = "status " + std::to_string(WEXITSTATUS(status)) + "\n--- stdout\n" +
                    Normalise(ReadFile(dir / "stdout.txt").value_or(""), libraryName) + "--- stderr\n" +
                    Normalise(ReadFile(dir / "stderr.txt").value_or(""), libraryName) + "--- transcript\n" +
                    Normalise(ReadFile(dir / "transcript.txt").value_or("(no transcript file)\n"), libraryName);
  for (const std::string& name : RecordedFiles(s)) {
    const fs::file_status entry = fs::symlink_status(dir / name, ec);
    const std::optional<std::string> content = ReadFile(dir / name);
    result.document += "--- file " + name +
                       (entry.type() == fs::file_type::not_found ? " (missing)\n"
                        : entry.type() == fs::file_type::directory ? " (a folder)\n"
                        : content ? "\n" + Normalise(*content, libraryName)
                                  : " (unreadable)\n");
  }
  return result;
}

std::string WindowsPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

// Each side runs once per scenario, whichever test asks first: the driver is given the library, the
// class path, the scenario file, the scenario and its transcript file, in Windows form for the fake.
const RunResult& SideRun(const Scenario& s, bool fake) {
  static std::map<std::string, RunResult> runs;
  const std::string side = fake ? "fake" : "hotspot";
  if (runs.count(s.name + "/" + side) != 0) return runs[s.name + "/" + side];
  const fs::path dir = WorkDir() / s.name / side;
  const auto path = [fake](const std::string& p) { return fake ? WindowsPath(p) : p; };
  std::vector<std::string> argv = fake ? std::vector<std::string>{CORVANE_WINE_RUN, FakeDriver(s.utf8)}
                                       : std::vector<std::string>{Env("CORVANE_CONTRACT_DRIVER")};
  argv.insert(argv.end(),
              {path(fake ? FakeLibrary() : HotSpotLibrary()), s.jar.empty() ? path(Env("CORVANE_CONTRACT_JAR")) : s.jar,
               path(ScenarioFilePath()), s.name, path((dir / "transcript.txt").string())});
  const std::string library = fake ? "jvm.dll" : fs::path(HotSpotLibrary()).filename().string();
  return runs[s.name + "/" + side] = RunProcess(argv, dir, s, library);
}

std::vector<Scenario> AllScenarios() {
  std::vector<Scenario> scenarios;
  std::string error;
  if (!ReadScenarioFile(ScenarioFilePath(), &scenarios, &error)) {
    // An empty list would pass silently; a scenario of this name fails instead, saying why.
    scenarios.assign(1, Scenario{});
    scenarios[0].name = "scenario-file-unreadable", scenarios[0].about = error;
  }
  return scenarios;
}

void ExpectBuilt(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) ASSERT_TRUE(fs::exists(path)) << path << " does not exist: build it first";
}

class HotSpot : public testing::TestWithParam<Scenario> {};
class FakeJvm : public testing::TestWithParam<Scenario> {};

TEST_P(HotSpot, GivesReviewedTranscript) {
  const Scenario& s = GetParam();
  ASSERT_NE(s.name, "scenario-file-unreadable") << s.about;
  ASSERT_NO_FATAL_FAILURE(ExpectBuilt({Env("CORVANE_CONTRACT_DRIVER"), HotSpotLibrary(), Env("CORVANE_CONTRACT_JAR")}));
  const RunResult& r = SideRun(s, false);
  ASSERT_EQ(r.fault, "");
  const fs::path actualPath = WorkDir() / s.name / "hotspot.txt";
  std::ofstream(actualPath, std::ios::binary) << r.document;
  const fs::path expectedPath = fs::path(CORVANE_CONTRACT_SOURCE_DIR) / "expected" / (s.name + ".txt");
  const std::optional<std::string> expected = ReadFile(expectedPath);
  ASSERT_TRUE(expected) << "no reviewed transcript " << expectedPath << "; HotSpot gave " << actualPath;
  EXPECT_EQ(*expected, r.document) << "HotSpot's transcript is in " << actualPath;
}

TEST_P(FakeJvm, AgreesWithHotSpot) {
  const Scenario& s = GetParam();
  ASSERT_NE(s.name, "scenario-file-unreadable") << s.about;
  ASSERT_NO_FATAL_FAILURE(ExpectBuilt({Env("CORVANE_CONTRACT_DRIVER"), HotSpotLibrary(), Env("CORVANE_CONTRACT_JAR"),
                                       FakeDriver(s.utf8), FakeLibrary()}));
  const RunResult& hotspot = SideRun(s, false);
  ASSERT_EQ(hotspot.fault, "");
  const RunResult& fake = SideRun(s, true);
  ASSERT_EQ(fake.fault, "");
  const fs::path fakePath = WorkDir() / s.name / "fake.txt";
  std::ofstream(fakePath, std::ios::binary) << fake.document;
  EXPECT_EQ(hotspot.document, fake.document) << "the fake's transcript is in " << fakePath;
}

std::string TestName(const testing::TestParamInfo<Scenario>& info) {
  std::string name = info.param.name;
  for (char& c : name) c = c == '-' ? '_' : c;
  return name;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, HotSpot, testing::ValuesIn(AllScenarios()), TestName);
INSTANTIATE_TEST_SUITE_P(Scenarios, FakeJvm, testing::ValuesIn(AllScenarios()), TestName);

}  // namespace
