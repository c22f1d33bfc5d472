// The runtimes that today's installers leave behind (search digits 6 to 9), with real keys in the
// test prefix's registry (both hives), real runtime folders holding image headers of either machine
// and release files, and PATH set per case.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "base/launch_config.h"
#include "base/text.h"
#include "runtime/runtime_candidate.h"
#include "runtime/runtime_search_win.h"
#include "scratch_files.h"

namespace {

using namespace corvane::test;

// Every key the new digits read, below either hive; deleted before and after each test.
const char* const InstallerTrees[] = {
    "Software\\JavaSoft\\JDK", "Software\\JavaSoft\\JRE",  "Software\\Eclipse Adoptium", "Software\\Eclipse Foundation",
    "Software\\AdoptOpenJDK",  "Software\\Microsoft\\JDK", "Software\\Semeru",           "Software\\Azul Systems",
    "Software\\BellSoft",
};

void DeleteInstallerKeys() {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    for (const char* tree : InstallerTrees) RegDeleteTreeA(root, tree);
    RegDeleteKeyA(root, "Software\\JavaSoft");  // only when nothing else is below it
  }
  // The 32-bit view, where 32-bit installers write.
  HKEY software;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &software) == ERROR_SUCCESS) {
    RegDeleteTreeA(software, "JavaSoft\\JDK");
    RegDeleteTreeA(software, "Eclipse Adoptium");
    RegCloseKey(software);
  }
}

// "@" in a case's text stands for the scratch folder.
std::string Expand(std::string text, const std::string& root) {
  for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + root.size())) {
    text.replace(at, 1, root);
  }
  return text;
}

struct Value {
  std::string name;
  std::string text;  // a string value's text, or a number's decimal digits
  DWORD type = REG_SZ;
};

struct Key {
  HKEY root;
  std::string path;
  std::vector<Value> values;
  REGSAM view = 0;  // KEY_WOW64_32KEY: the 32-bit registry view
};

void WriteKey(const Key& key, const std::string& scratch) {
  HKEY handle;
  ASSERT_EQ(
      RegCreateKeyExA(key.root, key.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | key.view, nullptr, &handle, nullptr),
      ERROR_SUCCESS)
      << key.path;
  for (const Value& value : key.values) {
    LONG status;
    if (value.type == REG_DWORD) {
      const DWORD number = static_cast<DWORD>(std::stoul(value.text));
      status = RegSetValueExA(handle, value.name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                              sizeof(number));
    } else {
      const std::string text = Expand(value.text, scratch);
      status = RegSetValueExA(handle, value.name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>(text.size() + 1));
    }
    EXPECT_EQ(status, ERROR_SUCCESS) << key.path << " " << value.name;
  }
  RegCloseKey(handle);
}

// A file that starts like an image of `machine` (0: an empty file).
bool MakeImage(const std::string& path, uint16_t machine) {
  if (!MakeFile(path)) return false;
  if (machine == 0) return true;
  unsigned char bytes[0x80 + ImageSignatureSize] = {'M', 'Z'};
  bytes[0x3C] = 0x80;
  std::memcpy(bytes + 0x80, "PE\0\0", 4);
  bytes[0x84] = static_cast<unsigned char>(machine);
  bytes[0x85] = static_cast<unsigned char>(machine >> 8);
  HANDLE file = CreateFileW(LongForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes, sizeof(bytes), &written, nullptr) && written == sizeof(bytes);
  CloseHandle(file);
  return ok;
}

bool MakeTextFile(const std::string& path, const std::string& text) {
  if (!MakeFile(path)) return false;
  HANDLE file = CreateFileW(LongForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok;
}

// A runtime folder below the scratch folder: its files (path below the home, machine) and its
// release file's JAVA_VERSION ("" for no release file).
struct Runtime {
  std::string home;
  std::string release;
  std::vector<std::pair<std::string, uint16_t>> files;
};

const char* const Server = "bin\\server\\jvm.dll";

Runtime Jdk(const std::string& home, const std::string& release = "", uint16_t machine = ImageMachineAmd64) {
  return {home, release, {{Server, machine}, {"bin\\java.exe", ImageMachineAmd64}}};
}

// One scenario: the runtimes on disk, the keys naming them, PATH, the rules and the search order,
// and the home whose jvm.dll (`jvm` below it) is expected ("" when nothing is found).
struct InstalledCase {
  const char* name;
  std::string order;
  std::string rules;
  std::vector<Runtime> runtimes;
  std::vector<Key> keys;
  std::string path;
  std::string expected;
  std::string jvm = Server;
  // A folder link made in the scratch folder: its name and its target ("/"-separated, relative).
  std::pair<std::string, std::string> link = {};
};

void PrintTo(const InstalledCase& c, std::ostream* out) { *out << c.name; }

// The MSI key of an OpenJDK distribution.
Key Msi(HKEY root, const std::string& vendorKind, const std::string& version, const std::string& vm,
        const std::string& home) {
  return {root, "Software\\" + vendorKind + "\\" + version + "\\" + vm + "\\MSI", {{"Path", "@\\" + home + "\\"}}};
}
Key JavaSoft(HKEY root, const std::string& kind, const std::string& version, const std::string& home) {
  return {root, "Software\\JavaSoft\\" + kind + "\\" + version, {{"JavaHome", "@\\" + home}}};
}

const HKEY Machine = HKEY_LOCAL_MACHINE;
const HKEY User = HKEY_CURRENT_USER;

class InstalledRuntimes : public ::testing::TestWithParam<InstalledCase> {
 protected:
  void SetUp() override {
    DeleteInstallerKeys();
    for (size_t i = 0; i < std::size(fields_); ++i) {
      saved_[i] = *fields_[i];
      *fields_[i] = CopyText("");
    }
    const DWORD needed = GetEnvironmentVariableA("PATH", nullptr, 0);
    savedPath_.assign(needed, '\0');
    savedPath_.resize(GetEnvironmentVariableA("PATH", savedPath_.data(), needed));
    root_ = MakeScratchRoot("cvir");
    ASSERT_FALSE(root_.empty());
  }

  void TearDown() override {
    if (!GetParam().link.first.empty()) RemoveDirectoryLink(root_, GetParam().link.first);
    RemoveTree(LongForm(root_));
    DeleteInstallerKeys();
    for (size_t i = 0; i < std::size(fields_); ++i) {
      std::free(*fields_[i]);
      *fields_[i] = saved_[i];
    }
    SetEnvironmentVariableA("PATH", savedPath_.c_str());
  }

  std::string At(const std::string& relative) const { return root_ + "\\" + relative; }

  void Install(const Runtime& runtime) const {
    for (const auto& [file, machine] : runtime.files) ASSERT_TRUE(MakeImage(At(runtime.home + "\\" + file), machine));
    if (!runtime.release.empty()) {
      ASSERT_TRUE(MakeTextFile(At(runtime.home + "\\release"),
                               "IMPLEMENTOR=\"Test\"\nJAVA_VERSION=\"" + runtime.release + "\"\nOS_ARCH=\"amd64\"\n"));
    }
  }

  // Sets up a case and runs the search; the jvm.dll found, or "", and the home in home_.
  std::string Search(const InstalledCase& c) {
    for (const Runtime& runtime : c.runtimes) Install(runtime);
    for (const Key& key : c.keys) WriteKey(key, root_);
    EXPECT_TRUE(ReplaceConfigText(&EditLaunchConfig().JvmSearchOrder, c.order.c_str()));
    EXPECT_TRUE(ReplaceConfigText(&EditLaunchConfig().JvmVersion, c.rules.c_str()));
    SetEnvironmentVariableA("PATH", Expand(c.path, root_).c_str());
    if (!c.link.first.empty() && !MakeDirectoryLink(root_, c.link.first, c.link.second)) {
      ADD_FAILURE() << "no folder link can be made here";
      return "";
    }
    RuntimeFound found;
    std::memset(&found, '#', sizeof(found));
    const bool located = LocateJavaRuntime(&found);
    home_ = found.home;
    return located ? std::string(found.jvmDll) : std::string();
  }

  std::string root_;
  std::string home_;

 private:
  char** const fields_[5] = {&EditLaunchConfig().JvmSearchOrder, &EditLaunchConfig().JvmPath, &EditLaunchConfig().JvmVersion,
                             &EditLaunchConfig().NoJvmDocument, &EditLaunchConfig().NoJvmCommand};
  char* saved_[5] = {};
  std::string savedPath_;
};

TEST_P(InstalledRuntimes, TakeTheHighestPassingVersionWithALoadableJvm) {
  const InstalledCase& c = GetParam();
  const bool reportNoJvm = EditLaunchConfig().ReportNoJvm;
  EditLaunchConfig().ReportNoJvm = false;
  const std::string found = Search(c);
  EditLaunchConfig().ReportNoJvm = reportNoJvm;
  EXPECT_EQ(found, c.expected.empty() ? "" : At(c.expected + "\\" + c.jvm));
  // The chosen runtime's home, without the installer's trailing backslash; untouched otherwise.
  EXPECT_EQ(home_, c.expected.empty() ? "" : At(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InstalledRuntimes,
    ::testing::Values(
        // Java 9 and later: JavaSoft\JDK and JavaSoft\JRE.
        InstalledCase{"JavaHomeWithoutRuntimeLib",
                      "6",
                      "17",
                      {Jdk("jdk17")},
                      {JavaSoft(Machine, "JDK", "17.0.9", "jdk17")},
                      "",
                      "jdk17"},
        InstalledCase{"HighestVersionThatPassesEveryRule",
                      "6",
                      ">=11;<21",
                      {Jdk("jdk11"), Jdk("jdk17"), Jdk("jre21")},
                      {JavaSoft(Machine, "JDK", "11.0.21", "jdk11"),
                       JavaSoft(Machine, "JDK", "17.0.9", "jdk17"),
                       JavaSoft(Machine, "JRE", "21.0.1", "jre21"),
                       {Machine, "Software\\JavaSoft\\JDK", {{"CurrentVersion", "11.0.21"}}}},
                      "",
                      "jdk17"},
        InstalledCase{"ReleaseFileCorrectsAStaleKey",
                      "6",
                      ">=19",
                      {Jdk("upgraded", "21.0.1"), Jdk("jdk19", "19.0.2")},
                      {JavaSoft(Machine, "JDK", "17", "upgraded"), JavaSoft(Machine, "JDK", "19", "jdk19")},
                      "",
                      "upgraded"},
        InstalledCase{"ReleaseFileOutranksTheKeyName",
                      "6",
                      "17",
                      {Jdk("jdk22", "17.0.2"), Jdk("jdk21", "21.0.1")},
                      {JavaSoft(Machine, "JDK", "22", "jdk22"), JavaSoft(Machine, "JDK", "21", "jdk21")},
                      "",
                      "jdk21"},
        InstalledCase{"RuntimeLibComesFirst",
                      "6",
                      "17",
                      {{"jdk21", "", {{Server, ImageMachineAmd64}, {"custom\\jvm.dll", ImageMachineAmd64}}}},
                      {{Machine,
                        "Software\\JavaSoft\\JDK\\21",
                        {{"JavaHome", "@\\jdk21"}, {"RuntimeLib", "@\\jdk21\\custom\\jvm.dll"}}}},
                      "",
                      "jdk21",
                      "custom\\jvm.dll"},
        InstalledCase{"ThirtyTwoBitRuntimeLibFallsBackToTheHome",
                      "6",
                      "17",
                      {{"jdk21", "", {{Server, ImageMachineAmd64}, {"x86\\jvm.dll", ImageMachineI386}}}},
                      {{Machine,
                        "Software\\JavaSoft\\JDK\\21",
                        {{"JavaHome", "@\\jdk21"}, {"RuntimeLib", "@\\jdk21\\x86\\jvm.dll"}}}},
                      "",
                      "jdk21"},
        InstalledCase{"HigherVersionWithoutAJvmGivesWay",
                      "6",
                      "17",
                      {{"jdk23", "", {{"bin\\java.exe", ImageMachineAmd64}}}, Jdk("jdk21")},
                      {JavaSoft(Machine, "JDK", "23", "jdk23"), JavaSoft(Machine, "JDK", "21", "jdk21")},
                      "",
                      "jdk21"},
        InstalledCase{"SeveralVendorsInstalledAtOnce",
                      "7",
                      "17",
                      {Jdk("temurin17", "17.0.9"), Jdk("microsoft21", "21.0.1"), Jdk("liberica21", "21.0.2"),
                       Jdk("zulu11", "11.0.21"), Jdk("semeru17", "17.0.8")},
                      {Msi(Machine, "Eclipse Adoptium\\JDK", "17.0.9.9", "hotspot", "temurin17"),
                       Msi(Machine, "Microsoft\\JDK", "21.0.1.12", "hotspot", "microsoft21"),
                       Msi(Machine, "Semeru\\JRE", "17.0.8.7", "openj9", "semeru17"),
                       {Machine,
                        "Software\\BellSoft\\Liberica\\jdk-21",
                        {{"InstallationPath", "@\\liberica21\\"}, {"MajorVersion", "21"}}},
                       {Machine,
                        "Software\\Azul Systems\\Zulu\\zulu-11",
                        {{"InstallationPath", "@\\zulu11\\"}, {"MajorVersion", "11", REG_DWORD}}}},
                      "",
                      "liberica21"},
        InstalledCase{"ThirtyTwoBitRuntimeIsSkipped",
                      "7",
                      "17",
                      {Jdk("temurin21-x86", "21.0.1", ImageMachineI386), Jdk("zulu17", "17.0.9")},
                      {Msi(Machine, "Eclipse Adoptium\\JDK", "21.0.1.12", "hotspot", "temurin21-x86"),
                       {Machine, "Software\\Azul Systems\\Zulu\\zulu-17", {{"InstallationPath", "@\\zulu17\\"}}}},
                      "",
                      "zulu17"},
        InstalledCase{"FileThatIsNoImageIsSkipped",
                      "7",
                      "17",
                      {Jdk("temurin21", "", 0), Jdk("temurin17")},
                      {Msi(Machine, "Eclipse Adoptium\\JRE", "21.0.1.12", "hotspot", "temurin21"),
                       Msi(Machine, "Eclipse Adoptium\\JRE", "17.0.9.9", "hotspot", "temurin17")},
                      "",
                      "temurin17"},
        InstalledCase{"OlderVendorNamesAndOpenJ9",
                      "7",
                      "11",
                      {Jdk("adopt11"), Jdk("foundation16")},
                      {Msi(Machine, "AdoptOpenJDK\\JRE", "11.0.2.9", "openj9", "adopt11"),
                       Msi(Machine, "Eclipse Foundation\\JDK", "16.0.2.7", "hotspot", "foundation16")},
                      "",
                      "foundation16"},
        InstalledCase{"VersionValuesOfTheKey",
                      "7",
                      ">=17.5",
                      {Jdk("zulu17a"), Jdk("zulu17b")},
                      {{Machine,
                        "Software\\Azul Systems\\Zulu\\zulu-17",
                        {{"InstallationPath", "@\\zulu17a"},
                         {"MajorVersion", "17", REG_DWORD},
                         {"MinorVersion", "4", REG_DWORD}}},
                       {Machine,
                        "Software\\Azul Systems\\Zulu\\zulu-17-jre",
                        {{"InstallationPath", "@\\zulu17b"}, {"MajorVersion", "17"}, {"MinorVersion", "6"}}}},
                      "",
                      "zulu17b"},
        InstalledCase{"JavaEightNamedTheNewWayMeetsAnOldRule",
                      "7",
                      ">=1.8.0_300;<1.9",
                      {Jdk("temurin8"), Jdk("temurin17")},
                      {Msi(Machine, "Eclipse Adoptium\\JDK", "8.0.392.8", "hotspot", "temurin8"),
                       Msi(Machine, "Eclipse Adoptium\\JDK", "17.0.9.9", "hotspot", "temurin17")},
                      "",
                      "temurin8"},
        InstalledCase{"ThirtyTwoBitRegistryViewIsNotRead",
                      "67",
                      "17",
                      {Jdk("jdk21"), Jdk("temurin21")},
                      {{Machine, "Software\\JavaSoft\\JDK\\21", {{"JavaHome", "@\\jdk21"}}, KEY_WOW64_32KEY},
                       {Machine,
                        "Software\\Eclipse Adoptium\\JDK\\21.0.1.12\\hotspot\\MSI",
                        {{"Path", "@\\temurin21"}},
                        KEY_WOW64_32KEY}},
                      "",
                      ""},
        // Per-user installs.
        InstalledCase{"PerUserOnly",
                      "8",
                      "17",
                      {Jdk("user17"), Jdk("user21")},
                      {JavaSoft(User, "JDK", "17", "user17"),
                       Msi(User, "Eclipse Adoptium\\JDK", "21.0.1.12", "hotspot", "user21")},
                      "",
                      "user21"},
        InstalledCase{
            "MachineDigitsLeavePerUserKeysAlone",
            "67",
            "17",
            {Jdk("user21")},
            {JavaSoft(User, "JDK", "21", "user21"), Msi(User, "Microsoft\\JDK", "21.0.1.12", "hotspot", "user21")},
            "",
            ""},
        InstalledCase{"JavaOnPath", "9", "17", {Jdk("jdk21", "21.0.1")}, {}, "@\\nothing;@\\jdk21\\bin", "jdk21"},
        InstalledCase{"HighestOnPath",
                      "9",
                      "17",
                      {Jdk("jdk17", "17.0.9"), Jdk("my jdk21", "21.0.1"), Jdk("jdk11", "11.0.2")},
                      {},
                      "@\\jdk17\\bin;\"@\\my jdk21\\bin\";@\\jdk11\\bin",
                      "my jdk21"},
        InstalledCase{"JavaOutsideABinFolderIsNoRuntime",
                      "9",
                      "",
                      {{"tools", "21.0.1", {{"java.exe", ImageMachineAmd64}, {Server, ImageMachineAmd64}}}},
                      {},
                      "@\\tools",
                      ""},
        InstalledCase{"PathFolderLinkedToTheRuntime",
                      "9",
                      "17",
                      {Jdk("jdk21", "21.0.1")},
                      {},
                      "@\\javapath",
                      "jdk21",
                      Server,
                      {"javapath", "jdk21/bin"}},
        InstalledCase{"PathRuntimeWithoutReleaseFailsARule", "9", "17", {Jdk("jdk21")}, {}, "@\\jdk21\\bin", ""},
        InstalledCase{"ThirtyTwoBitRuntimeOnPath",
                      "9",
                      "17",
                      {Jdk("jdk21-x86", "21.0.1", ImageMachineI386), Jdk("jdk17", "17.0.2")},
                      {},
                      "@\\jdk21-x86\\bin;@\\jdk17\\bin",
                      "jdk17"}),
    [](const ::testing::TestParamInfo<InstalledCase>& info) { return std::string(info.param.name); });

}  // namespace
