// The contract between the real HotSpot VM and the fake jvm.dll. Every scenario of scenarios.txt
// runs through cv-contract twice, each in its own process: against HotSpot's libjvm.so on Linux,
// and under Wine against the fake. HotSpot's transcript must equal the reviewed one in expected/
// (so that a JDK that behaves differently is noticed), and the fake's must equal HotSpot's.
//
// A transcript document holds the exit status, stdout, stderr (captured apart, never interleaved)
// and the driver's transcript file, normalised:
// - CRLF becomes LF (the fake writes Windows line ends);
// - stack lines (a tab, then "at " or "... N more") are left out: frames differ between a real VM
//   and any fake, and between JDK builds;
// - HotSpot's fatal error report (the block of '#' lines around "# A fatal error has been detected
//   by the Java Runtime Environment:") is cut to that header: the rest holds the pid, addresses,
//   build strings and the report file's path, which change with every run;
// - the JVM library's file name (libjvm.so or jvm.dll) in reports becomes "<jvm library>";
// - bytes above 126 and controls other than tab are written \xHH, so that the documents are plain
//   ASCII and the bytes of the Windows-1252 scenario stay visible.
// - the system's reason that ends a FileNotFoundException's message becomes "(<reason>)": Linux
//   says "(Is a directory)" where Windows says "(Access is denied)" for the same folder.
// After the stream sections come the files the scenario names (its `out`, `err` and the files and
// folders made before the run), read once the process has ended, however it ended: "--- file NAME"
// and its lines, normalised alike, or "(missing)" or "(a folder)" after the name.
// Nothing of Wine's own output needs dropping: wine-run.sh runs with WINEDEBUG=-all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
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

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string ScenarioFilePath() { return std::string(CORVANE_CONTRACT_SOURCE_DIR) + "/scenarios.txt"; }

std::string ReadFile(const std::string& path, bool* ok = nullptr) {
  std::ifstream in(path, std::ios::binary);
  if (ok != nullptr) *ok = static_cast<bool>(in);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool IsStackLine(const std::string& line) { return line.rfind("\tat ", 0) == 0 || line.rfind("\t... ", 0) == 0; }

std::string Escape(const std::string& line) {
  std::string out;
  for (unsigned char c : line) {
    if ((c < 0x20 && c != '\t') || c > 0x7e) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

// One captured stream (or the transcript file), normalised as the file comment says.
std::string NormaliseStream(const std::string& text, const std::string& libraryName) {
  std::vector<std::string> lines;
  for (const std::string& line : Lines(text)) {
    if (!IsStackLine(line)) lines.push_back(line);
  }
  // The fatal error report: '#' lines before the header, '#' and empty lines after it.
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] != FatalErrorHeader) continue;
    size_t first = i;
    while (first > 0 && lines[first - 1].rfind('#', 0) == 0) --first;
    size_t last = i + 1;
    while (last < lines.size() && (lines[last].empty() || lines[last].rfind('#', 0) == 0)) ++last;
    lines.erase(lines.begin() + static_cast<long>(i) + 1, lines.begin() + static_cast<long>(last));
    lines.erase(lines.begin() + static_cast<long>(first), lines.begin() + static_cast<long>(i));
    break;
  }
  std::string out;
  for (std::string line : lines) {
    if (line.rfind(FileNotFoundHead, 0) == 0 && !line.empty() && line.back() == ')') {
      const size_t open = line.rfind(" (");
      if (open != std::string::npos && open >= std::strlen(FileNotFoundHead)) {
        line.replace(open, std::string::npos, " (<reason>)");
      }
    }
    if (!libraryName.empty()) {
      for (size_t at = line.find(libraryName); at != std::string::npos; at = line.find(libraryName, at)) {
        line.replace(at, libraryName.size(), "<jvm library>");
        at += std::strlen("<jvm library>");
      }
    }
    out += Escape(line) + "\n";
  }
  return out;
}

// A file of the run's folder as the run left it.
struct RecordedFile {
  enum class Kind { Missing, Folder, File, Other };
  std::string name;
  Kind kind = Kind::Missing;
  std::string content;
};

struct RunResult {
  std::string fault;  // why the run could not be made; empty when it was
  std::string status;
  std::string out;
  std::string err;
  std::string transcript;
  std::vector<RecordedFile> files;
};

std::string FileSection(const RecordedFile& f, const std::string& libraryName) {
  switch (f.kind) {
    case RecordedFile::Kind::Missing:
      return "--- file " + f.name + " (missing)\n";
    case RecordedFile::Kind::Folder:
      return "--- file " + f.name + " (a folder)\n";
    case RecordedFile::Kind::Other:
      return "--- file " + f.name + " (neither file nor folder)\n";
    case RecordedFile::Kind::File:
      break;
  }
  return "--- file " + f.name + "\n" + NormaliseStream(f.content, libraryName);
}

std::string Document(const RunResult& r, const std::string& libraryName) {
  std::string document = "status " + r.status + "\n--- stdout\n" + NormaliseStream(r.out, libraryName) +
                         "--- stderr\n" + NormaliseStream(r.err, libraryName) + "--- transcript\n" +
                         NormaliseStream(r.transcript, libraryName);
  for (const RecordedFile& f : r.files) document += FileSection(f, libraryName);
  return document;
}

// Makes the scenario's files and folders in `dir`; false with `fault` when one cannot be made.
bool MakeEntriesBefore(const fs::path& dir, const std::vector<EntryBefore>& before, std::string* fault) {
  for (const EntryBefore& e : before) {
    std::error_code ec;
    if (e.folder) {
      fs::create_directory(dir / e.name, ec);
    } else {
      std::ofstream file(dir / e.name, std::ios::binary);
      file << e.text << "\n";
      file.close();
      if (!file) ec = std::make_error_code(std::errc::io_error);
    }
    if (ec) {
      *fault = "cannot make " + (dir / e.name).string() + " before the run: " + ec.message();
      return false;
    }
  }
  return true;
}

// The named entries of `dir` as they are now.
std::vector<RecordedFile> RecordFiles(const fs::path& dir, const std::vector<std::string>& names, std::string* fault) {
  std::vector<RecordedFile> files;
  for (const std::string& name : names) {
    RecordedFile f;
    f.name = name;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(dir / name, ec);
    if (status.type() == fs::file_type::not_found) {
      f.kind = RecordedFile::Kind::Missing;
    } else if (ec) {
      *fault = "cannot look at " + (dir / name).string() + ": " + ec.message();
    } else if (status.type() == fs::file_type::directory) {
      f.kind = RecordedFile::Kind::Folder;
    } else if (status.type() == fs::file_type::regular) {
      bool read = false;
      f.kind = RecordedFile::Kind::File;
      f.content = ReadFile((dir / name).string(), &read);
      if (!read) *fault = "cannot read " + (dir / name).string();
    } else {
      f.kind = RecordedFile::Kind::Other;
    }
    files.push_back(std::move(f));
  }
  return files;
}

// Runs argv in `dir` with stdout and stderr to files of their own, no core dumps, and an
// environment without the variables that make a JVM or Wine print more or behave otherwise. The
// scenario's entries are made in `dir` first and its named files recorded after the process ends.
RunResult RunProcess(const std::vector<std::string>& argv, const fs::path& dir, const Scenario* s = nullptr) {
  RunResult result;
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir, ec);
  if (ec) {
    result.fault = "cannot create " + dir.string() + ": " + ec.message();
    return result;
  }
  if (s != nullptr && !MakeEntriesBefore(dir, s->before, &result.fault)) return result;
  const std::string outPath = (dir / "stdout.txt").string();
  const std::string errPath = (dir / "stderr.txt").string();
  const pid_t child = fork();
  if (child < 0) {
    result.fault = std::string("fork: ") + std::strerror(errno);
    return result;
  }
  if (child == 0) {
    if (chdir(dir.c_str()) != 0) _exit(121);
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) _exit(122);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (const char* name : {"JAVA_HOME", "JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS", "CLASSPATH"}) {
      unsetenv(name);
    }
    setenv("LC_ALL", "C", 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(123);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      result.fault = std::string("waitpid: ") + std::strerror(errno);
      return result;
    }
  }
  if (WIFEXITED(status)) {
    const int code = WEXITSTATUS(status);
    if (code >= 121 && code <= 123) {
      result.fault = "the child could not start " + argv[0] + " (status " + std::to_string(code) + ")";
      return result;
    }
    result.status = std::to_string(code);
  } else if (WIFSIGNALED(status)) {
    result.status = "signal " + std::to_string(WTERMSIG(status));
  }
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  bool transcriptOk = false;
  result.transcript = ReadFile((dir / "transcript.txt").string(), &transcriptOk);
  if (!transcriptOk) result.transcript = "(no transcript file)\n";
  if (s != nullptr) result.files = RecordFiles(dir, RecordedFiles(*s), &result.fault);
  return result;
}

std::string WindowsPath(const std::string& path) {
  std::string out = "Z:" + path;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

fs::path WorkDir() {
  const std::string work = Env("CORVANE_CONTRACT_WORK");
  return work.empty() ? fs::temp_directory_path() / "corvane-contract" : fs::path(work);
}

std::string HotSpotLibrary() { return Env("CORVANE_CONTRACT_JVM"); }
std::string FakeLibrary() { return Env("CORVANE_WIN64_DIR") + "/tests/fixtures/fake_jvm/jvm.dll"; }
std::string FakeDriver() { return Env("CORVANE_WIN64_DIR") + "/tests/contract/cv-contract.exe"; }

// Each side runs once per scenario, whichever test asks first.
const RunResult& HotSpotRun(const Scenario& s) {
  static std::map<std::string, RunResult> runs;
  auto found = runs.find(s.name);
  if (found != runs.end()) return found->second;
  const fs::path dir = WorkDir() / s.name / "hotspot";
  RunResult r = RunProcess({Env("CORVANE_CONTRACT_DRIVER"), HotSpotLibrary(), Env("CORVANE_CONTRACT_JAR"),
                            ScenarioFilePath(), s.name, (dir / "transcript.txt").string()},
                           dir, &s);
  return runs.emplace(s.name, std::move(r)).first->second;
}

const RunResult& FakeRun(const Scenario& s) {
  static std::map<std::string, RunResult> runs;
  auto found = runs.find(s.name);
  if (found != runs.end()) return found->second;
  const fs::path dir = WorkDir() / s.name / "fake";
  if (Env("WINEPREFIX").empty()) setenv("WINEPREFIX", (WorkDir() / "wineprefix").c_str(), 1);
  RunResult r = RunProcess({CORVANE_WINE_RUN, FakeDriver(), WindowsPath(FakeLibrary()),
                            WindowsPath(Env("CORVANE_CONTRACT_JAR")), WindowsPath(ScenarioFilePath()), s.name,
                            WindowsPath((dir / "transcript.txt").string())},
                           dir, &s);
  return runs.emplace(s.name, std::move(r)).first->second;
}

std::vector<Scenario> AllScenarios() {
  std::vector<Scenario> scenarios;
  std::string error;
  if (!ReadScenarioFile(ScenarioFilePath(), &scenarios, &error)) {
    // An empty list would pass silently; a scenario of this name fails instead, saying why.
    Scenario broken;
    broken.name = "scenario-file-unreadable";
    broken.about = error;
    scenarios.assign(1, broken);
  }
  return scenarios;
}

std::string TestName(const testing::TestParamInfo<Scenario>& info) {
  std::string name = info.param.name;
  for (char& c : name) {
    if (c == '-') c = '_';
  }
  return name;
}

bool MissingFile(const std::string& path, std::string* message) {
  if (fs::exists(path)) return false;
  *message = path + " does not exist: build it first";
  return true;
}

class HotSpot : public testing::TestWithParam<Scenario> {};
class FakeJvm : public testing::TestWithParam<Scenario> {};

TEST_P(HotSpot, GivesReviewedTranscript) {
  const Scenario& s = GetParam();
  ASSERT_NE(s.name, "scenario-file-unreadable") << s.about;
  std::string missing;
  for (const std::string& path : {Env("CORVANE_CONTRACT_DRIVER"), HotSpotLibrary(), Env("CORVANE_CONTRACT_JAR")}) {
    ASSERT_FALSE(MissingFile(path, &missing)) << missing;
  }
  const RunResult& r = HotSpotRun(s);
  ASSERT_EQ(r.fault, "");
  const std::string actual = Document(r, fs::path(HotSpotLibrary()).filename().string());
  const fs::path actualPath = WorkDir() / s.name / "hotspot.txt";
  std::ofstream(actualPath, std::ios::binary) << actual;
  const std::string expectedPath = std::string(CORVANE_CONTRACT_SOURCE_DIR) + "/expected/" + s.name + ".txt";
  bool found = false;
  const std::string expected = ReadFile(expectedPath, &found);
  ASSERT_TRUE(found) << "no reviewed transcript " << expectedPath << "; HotSpot gave " << actualPath;
  EXPECT_EQ(expected, actual) << "HotSpot's transcript is in " << actualPath;
}

TEST_P(FakeJvm, AgreesWithHotSpot) {
  const Scenario& s = GetParam();
  ASSERT_NE(s.name, "scenario-file-unreadable") << s.about;
  std::string missing;
  for (const std::string& path : {Env("CORVANE_CONTRACT_DRIVER"), HotSpotLibrary(), Env("CORVANE_CONTRACT_JAR"),
                                  FakeDriver(), FakeLibrary()}) {
    ASSERT_FALSE(MissingFile(path, &missing)) << missing;
  }
  const RunResult& hotspot = HotSpotRun(s);
  ASSERT_EQ(hotspot.fault, "");
  const RunResult& fake = FakeRun(s);
  ASSERT_EQ(fake.fault, "");
  const std::string hotspotDocument = Document(hotspot, fs::path(HotSpotLibrary()).filename().string());
  const std::string fakeDocument = Document(fake, "jvm.dll");
  const fs::path fakePath = WorkDir() / s.name / "fake.txt";
  std::ofstream(fakePath, std::ios::binary) << fakeDocument;
  if (!s.fakeDiffers.empty()) {
    // Marked in scenarios.txt: the fake cannot show the same text; the status must still agree.
    EXPECT_EQ(hotspot.status, fake.status) << "fake transcript in " << fakePath << " (" << s.fakeDiffers << ")";
    return;
  }
  EXPECT_EQ(hotspotDocument, fakeDocument) << "fake transcript in " << fakePath;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, HotSpot, testing::ValuesIn(AllScenarios()), TestName);
INSTANTIATE_TEST_SUITE_P(Scenarios, FakeJvm, testing::ValuesIn(AllScenarios()), TestName);

// --- The driver's own failures: said clearly, never a run that seems to have worked ---

struct DriverFaultCase {
  const char* what;
  const char* library;  // "<jvm>" for HotSpot's library
  const char* scenario;
  const char* status;
  const char* transcriptStart;  // the transcript starts so ("": no transcript file at all)
  const char* stderrPart;
};

void PrintTo(const DriverFaultCase& c, std::ostream* os) { *os << c.what; }

class DriverFaults : public testing::TestWithParam<DriverFaultCase> {};

TEST_P(DriverFaults, EndWithAClearStatusAndMessage) {
  const DriverFaultCase& c = GetParam();
  std::string missing;
  ASSERT_FALSE(MissingFile(Env("CORVANE_CONTRACT_DRIVER"), &missing)) << missing;
  const fs::path dir = WorkDir() / "driver-faults" / c.what;
  const std::string library = std::string(c.library) == "<jvm>" ? HotSpotLibrary() : c.library;
  const RunResult r = RunProcess({Env("CORVANE_CONTRACT_DRIVER"), library, Env("CORVANE_CONTRACT_JAR"),
                                  ScenarioFilePath(), c.scenario, (dir / "transcript.txt").string()},
                                 dir);
  ASSERT_EQ(r.fault, "");
  EXPECT_EQ(r.status, c.status);
  if (c.transcriptStart[0] == '\0') {
    EXPECT_EQ(r.transcript, "(no transcript file)\n") << "a setup fault happens before any run";
  } else {
    EXPECT_EQ(r.transcript.rfind(c.transcriptStart, 0), 0u) << r.transcript;
  }
  EXPECT_NE(r.err.find(c.stderrPart), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DriverFaults,
    testing::Values(
        DriverFaultCase{"missing_library", "/nonexistent/libjvm.so", "user-dir-overwritten", "255",
                        "report Unable to load JVM: /nonexistent/libjvm.so\n", ""},
        DriverFaultCase{"library_without_jni", "libm.so.6", "user-dir-overwritten", "255",
                        "report Unable to locate JNI interfaces in libm.so.6\n", ""},
        DriverFaultCase{"unknown_scenario", "<jvm>", "no-such-scenario", "2", "", "no scenario 'no-such-scenario'"}),
    [](const testing::TestParamInfo<DriverFaultCase>& info) { return std::string(info.param.what); });

// --- The test's own reading of scenario files and transcripts ---

struct ParseCase {
  const char* what;
  const char* text;
  const char* error;  // a part of the error, or null when the text is valid
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.what; }

class ScenarioFileParsing : public testing::TestWithParam<ParseCase> {};

TEST_P(ScenarioFileParsing, RefusesMalformedFilesNamingTheLine) {
  const ParseCase& c = GetParam();
  std::vector<Scenario> scenarios;
  std::string error;
  const bool ok = ParseScenarios(c.text, &scenarios, &error);
  if (c.error == nullptr) {
    EXPECT_TRUE(ok) << error;
    EXPECT_FALSE(scenarios.empty());
  } else {
    EXPECT_FALSE(ok);
    EXPECT_TRUE(scenarios.empty());
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScenarioFileParsing,
    testing::Values(ParseCase{"valid", "# c\n[a-1]\nargs = x\n\n[b]\nmode = attached\nsecond = stop\n", nullptr},
                    ParseCase{"empty file", "# nothing\n", "no scenario"},
                    ParseCase{"value before section", "args = x\n[a]\n", "line 1"},
                    ParseCase{"unknown key", "[a]\nargz = x\n", "line 2: unknown key 'argz'"},
                    ParseCase{"repeated key", "[a]\nargs = x\nargs = y\n", "line 3: key 'args' given twice"},
                    ParseCase{"repeated name", "[a]\n[a]\n", "line 2: scenario 'a' given twice"},
                    ParseCase{"path in name", "[../x]\n", "line 1: scenario name"},
                    ParseCase{"upper case name", "[Abc]\n", "line 1"},
                    ParseCase{"unclosed section", "[abc\n", "must end with ']'"},
                    ParseCase{"bad mode", "[a]\nmode = threads\n", "line 2: mode must be"},
                    ParseCase{"attached without second", "[a]\nmode = attached\n[b]\n", "line 3"},
                    ParseCase{"second without attached", "[a]\nsecond = stop\n", "not attached"},
                    ParseCase{"short byte escape", "[a]\nargs = \\xE\n", "two hex digits"},
                    ParseCase{"nul byte escape", "[a]\nargs = a\\x00\n", "\\x00"},
                    ParseCase{"no equals sign", "[a]\nargs\n", "line 2: expected"},
                    ParseCase{"streams and entries before",
                              "[a]\nout = o.log replace\nerr = e_1.log append\nfile-before = o.log: x\n"
                              "file-before = e_1.log:\nfolder-before = logs\n",
                              nullptr},
                    ParseCase{"stream without mode", "[a]\nout = o.log\n", "line 2: a stream's file must be"},
                    ParseCase{"stream with unknown mode", "[a]\nerr = e.log truncate\n", "'NAME append' or"},
                    ParseCase{"stream with two spaces", "[a]\nerr = e.log  append\n", "line 2"},
                    ParseCase{"stream with extra word", "[a]\nerr = e.log append now\n", "line 2"},
                    ParseCase{"stream given twice", "[a]\nout = a replace\nout = b replace\n", "key 'out' given twice"},
                    ParseCase{"parent folder", "[a]\nout = .. replace\n", "line 2: file name '..'"},
                    ParseCase{"path outside the folder", "[a]\nout = ../x.log replace\n", "file name"},
                    ParseCase{"absolute path", "[a]\nerr = /tmp/x replace\n", "file name"},
                    ParseCase{"windows path", "[a]\nerr = c:\\o.log replace\n", "file name"},
                    ParseCase{"sub folder", "[a]\nout = logs/o.log replace\n", "file name"},
                    ParseCase{"upper case file name", "[a]\nout = Out.log replace\n", "file name"},
                    ParseCase{"hidden file name", "[a]\nout = .log replace\n", "file name"},
                    ParseCase{"trailing dot", "[a]\nout = out. replace\n", "not end with '.'"},
                    ParseCase{"null device", "[a]\nout = nul.log replace\n", "device on Windows"},
                    ParseCase{"serial device", "[a]\nerr = com1 append\n", "device on Windows"},
                    ParseCase{"test own transcript", "[a]\nout = transcript.txt replace\n", "test's own"},
                    ParseCase{"test own stdout", "[a]\nfile-before = stdout.txt: x\n", "test's own"},
                    ParseCase{"file before without colon", "[a]\nfile-before = e.log\n", "'NAME: TEXT'"},
                    ParseCase{"file before without name", "[a]\nfile-before = : x\n", "file name ''"},
                    ParseCase{"file made twice", "[a]\nfile-before = e.log: x\nfile-before = e.log: y\n",
                              "line 3: 'e.log' made twice"},
                    ParseCase{"file and folder of one name", "[a]\nfolder-before = logs\nfile-before = logs: x\n",
                              "made twice"},
                    ParseCase{"folder before with path", "[a]\nfolder-before = a/b\n", "file name"}),
    [](const testing::TestParamInfo<ParseCase>& info) {
      std::string name = info.param.what;
      for (char& c : name) {
        if (c == ' ') c = '_';
      }
      return name;
    });

TEST(ScenarioFileValues, StreamFilesAndEntriesBeforeAreKeptInOrder) {
  std::vector<Scenario> scenarios;
  std::string error;
  ASSERT_TRUE(ParseScenarios("[a]\nout = o.log append\nerr = e.log replace\nfile-before = e.log:  two words \n"
                             "folder-before = logs\nfile-before = empty.log:\n[b]\n",
                             &scenarios, &error))
      << error;
  const Scenario& a = scenarios[0];
  EXPECT_EQ(a.out.name, "o.log");
  EXPECT_TRUE(a.out.append);
  EXPECT_EQ(a.err.name, "e.log");
  EXPECT_FALSE(a.err.append);
  ASSERT_EQ(a.before.size(), 3u);
  EXPECT_EQ(a.before[0].name, "e.log");
  EXPECT_FALSE(a.before[0].folder);
  EXPECT_EQ(a.before[0].text, "two words");
  EXPECT_EQ(a.before[1].name, "logs");
  EXPECT_TRUE(a.before[1].folder);
  EXPECT_EQ(a.before[2].text, "");
  EXPECT_EQ(RecordedFiles(a), (std::vector<std::string>{"o.log", "e.log", "logs", "empty.log"}));
  // Without any of these keys the streams stay where the VM put them and nothing is recorded.
  EXPECT_EQ(scenarios[1].out.name, "");
  EXPECT_EQ(scenarios[1].err.name, "");
  EXPECT_TRUE(RecordedFiles(scenarios[1]).empty());
}

TEST(ScenarioFileValues, OneFileForBothStreamsIsRecordedOnce) {
  std::vector<Scenario> scenarios;
  std::string error;
  ASSERT_TRUE(ParseScenarios("[a]\nout = b.log replace\nerr = b.log append\nfile-before = b.log: x\n", &scenarios,
                             &error))
      << error;
  EXPECT_EQ(RecordedFiles(scenarios[0]), std::vector<std::string>{"b.log"});
}

TEST(ScenarioFileValues, DecodeByteEscapesAndKeepOtherBackslashes) {
  std::vector<Scenario> scenarios;
  std::string error;
  ASSERT_TRUE(ParseScenarios("[a]\nargs = caf\\xe9 C:\\dir \\x80\n", &scenarios, &error)) << error;
  EXPECT_EQ(scenarios[0].args, "caf\xe9 C:\\dir \x80");
  EXPECT_EQ(scenarios[0].mainClass, "corvane/test/ScenarioApp");
}

struct NormaliseCase {
  const char* what;
  const char* raw;
  const char* normalised;
};

void PrintTo(const NormaliseCase& c, std::ostream* os) { *os << c.what; }

class TranscriptNormalising : public testing::TestWithParam<NormaliseCase> {};

TEST_P(TranscriptNormalising, KeepsWhatBothVmsMustAgreeOn) {
  const NormaliseCase& c = GetParam();
  EXPECT_EQ(NormaliseStream(c.raw, "libjvm.so"), c.normalised);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TranscriptNormalising,
    testing::Values(
        NormaliseCase{"crlf", "a\r\nb\r\n", "a\nb\n"},
        NormaliseCase{"last line without end", "a\nb", "a\nb\n"},
        NormaliseCase{"stack lines", "E: x\n\tat A.b(A.java:1)\n\t... 3 more\nCaused by: y\n\tat C.d\n",
                      "E: x\nCaused by: y\n"},
        NormaliseCase{"tab line that is no stack line", "\tvalue\n", "\tvalue\n"},
        NormaliseCase{"high bytes escaped", "caf\xe9 \x80\n", "caf\\xE9 \\x80\n"},
        NormaliseCase{"library name", "report using libjvm.so and libjvm.so\n",
                      "report using <jvm library> and <jvm library>\n"},
        NormaliseCase{"fatal error report cut to its header",
                      "out before\n#\n# A fatal error has been detected by the Java Runtime Environment:\n#\n#  SIGSEGV "
                      "pid=1\n\n# end\n\nafter\n",
                      "out before\n# A fatal error has been detected by the Java Runtime Environment:\nafter\n"},
        NormaliseCase{"hash lines without the header kept", "#\n# note\n", "#\n# note\n"},
        NormaliseCase{"file not found reason of linux", "java.io.FileNotFoundException: logs (Is a directory)\n",
                      "java.io.FileNotFoundException: logs (<reason>)\n"},
        NormaliseCase{"file not found reason of windows",
                      "java.io.FileNotFoundException: logs (Access is denied)\r\n",
                      "java.io.FileNotFoundException: logs (<reason>)\n"},
        NormaliseCase{"only the last parenthesis is the reason",
                      "java.io.FileNotFoundException: a (b) (No such file or directory)\n",
                      "java.io.FileNotFoundException: a (b) (<reason>)\n"},
        NormaliseCase{"file not found without reason kept", "java.io.FileNotFoundException: (x)\n",
                      "java.io.FileNotFoundException: (x)\n"},
        NormaliseCase{"parenthesis of other lines kept", "out value (kept)\nerr java.io.FileNotFoundException: a (b)\n",
                      "out value (kept)\nerr java.io.FileNotFoundException: a (b)\n"}),
    [](const testing::TestParamInfo<NormaliseCase>& info) {
      std::string name = info.param.what;
      for (char& c : name) {
        if (c == ' ') c = '_';
      }
      return name;
    });

// --- Entries made before a run and files recorded after it ---

struct RecordCase {
  const char* what;
  const char* scenario;  // a scenario file with one scenario
  const char* afterRun;  // "NAME=TEXT" written by the "run" ("" for none), replacing the file
  const char* sections;  // the file sections of the document
};

void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.what; }

class RunFolderFiles : public testing::TestWithParam<RecordCase> {};

TEST_P(RunFolderFiles, AreMadeBeforeAndRecordedAfter) {
  const RecordCase& c = GetParam();
  std::vector<Scenario> scenarios;
  std::string error;
  ASSERT_TRUE(ParseScenarios(c.scenario, &scenarios, &error)) << error;
  const fs::path dir = WorkDir() / "run-folder-files" / c.what;
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir);
  std::string fault;
  ASSERT_TRUE(MakeEntriesBefore(dir, scenarios[0].before, &fault)) << fault;
  const std::string afterRun = c.afterRun;
  if (!afterRun.empty()) {
    const size_t equals = afterRun.find('=');
    std::ofstream(dir / afterRun.substr(0, equals), std::ios::binary) << afterRun.substr(equals + 1);
  }
  RunResult r;
  r.files = RecordFiles(dir, RecordedFiles(scenarios[0]), &fault);
  EXPECT_EQ(fault, "");
  std::string sections;
  for (const RecordedFile& f : r.files) sections += FileSection(f, "libjvm.so");
  EXPECT_EQ(sections, c.sections);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunFolderFiles,
    testing::Values(
        RecordCase{"untouched_file_before", "[a]\nfile-before = e.log: old\n", "", "--- file e.log\nold\n"},
        RecordCase{"empty_file_before", "[a]\nfile-before = e.log:\n", "", "--- file e.log\n\n"},
        RecordCase{"stream_file_never_made", "[a]\nout = o.log replace\n", "", "--- file o.log (missing)\n"},
        RecordCase{"stream_file_written", "[a]\nerr = e.log append\n", "e.log=err a\r\nerr \xE9",
                   "--- file e.log\nerr a\nerr \\xE9\n"},
        RecordCase{"folder_stays_a_folder", "[a]\nfolder-before = logs\nout = logs replace\n", "",
                   "--- file logs (a folder)\n"},
        RecordCase{"both_streams_one_file", "[a]\nout = b.log replace\nerr = b.log append\n", "b.log=one\n",
                   "--- file b.log\none\n"},
        RecordCase{"stack_lines_and_reason_normalised", "[a]\nerr = e.log replace\n",
                   "e.log=java.io.FileNotFoundException: x (Access is denied)\r\n\tat A.b(A.java)\r\n",
                   "--- file e.log\njava.io.FileNotFoundException: x (<reason>)\n"}),
    [](const testing::TestParamInfo<RecordCase>& info) { return std::string(info.param.what); });

}  // namespace
