// Finding a runtime with real registry keys (both hives and views of the test's own Wine prefix),
// runtime folders under a scratch folder (jvm.dll with image headers, release files), JAVA_HOME, PATH.
#include <gtest/gtest.h>

#include <cstring>

#include "base/launch_config.h"
#include "runtime/runtime_candidate.h"
#include "runtime/runtime_lookup_win.h"
#include "runtime/runtime_search_win.h"
#include "runtime/search_order.h"
#include "../shared/win_support.h"

namespace {

using namespace corvane::test;

const HKEY Machine = HKEY_LOCAL_MACHINE, User = HKEY_CURRENT_USER;
const char* const Server = "bin\\server\\jvm.dll";

// Every tree the search reads, below either hive and view; deleted before and after each test.
void DeleteKeys() {
  for (HKEY root : {Machine, User})
    for (const char* tree : {"Software\\JavaSoft", "Software\\IBM", "Software\\JRockit", "Software\\Eclipse Adoptium",
                             "Software\\Eclipse Foundation", "Software\\AdoptOpenJDK", "Software\\Microsoft\\JDK",
                             "Software\\Semeru", "Software\\Azul Systems", "Software\\BellSoft", "Software\\Corvane Test"})
      RegDeleteTreeA(root, tree);
  HKEY software;
  if (RegOpenKeyExA(Machine, "Software", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &software) == ERROR_SUCCESS)
    RegDeleteTreeA(software, "JavaSoft"), RegDeleteTreeA(software, "Eclipse Adoptium"), RegCloseKey(software);
}

// The start of an image of this machine (0: a file that is no image).
std::string Image(uint16_t machine) {
  std::string bytes(0x80 + ImageSignatureSize, '\0');
  if (machine) bytes.replace(0, 2, "MZ"), bytes[0x3C] = (char)0x80, bytes.replace(0x80, 6, std::string("PE\0\0", 4) + (char)machine + (char)(machine >> 8));
  return bytes;
}

struct File {
  std::string path, bytes;  // below the scratch folder
};
std::vector<File> operator+(std::vector<File> a, const std::vector<File>& b) { return a.insert(a.end(), b.begin(), b.end()), a; }
// A runtime's home with a 64-bit jvm.dll (`machine`), java.exe and, when given, a release file.
std::vector<File> Jdk(const std::string& home, const std::string& release = "", uint16_t machine = ImageMachineAmd64) {
  std::vector<File> files = {{home + "\\" + Server, Image(machine)}, {home + "\\bin\\java.exe", Image(ImageMachineAmd64)}};
  if (!release.empty()) files.push_back({home + "\\release", "IMPLEMENTOR=\"T\"\nJAVA_VERSION=\"" + release + "\"\n"});
  return files;
}

struct Key {
  HKEY root;
  std::string path;
  std::vector<RegistryValue> values;  // "@" in a text stands for the scratch folder
  REGSAM view = 0;
};
// A version subkey of a row of the older installers' table; an empty text leaves that value out.
Key Row(int row, const std::string& version, const std::string& home, const std::string& lib = "") {
  Key key{Machine, std::string(RuntimeRegistryKeys[row]) + "\\" + version, {}};
  if (!home.empty()) key.values.push_back({"JavaHome", REG_SZ, Sz(home)});
  if (!lib.empty()) key.values.push_back({"RuntimeLib", REG_SZ, Sz(lib)});
  return key;
}
Key Current(int row, const std::string& version) { return {Machine, RuntimeRegistryKeys[row], {{"CurrentVersion", REG_SZ, Sz(version)}}}; }
Key JavaSoft(HKEY root, const std::string& kind, const std::string& version, const std::string& home) {
  return {root, "Software\\JavaSoft\\" + kind + "\\" + version, {{"JavaHome", REG_SZ, Sz("@\\" + home)}}};
}
Key Msi(HKEY root, const std::string& product, const std::string& version, const std::string& vm, const std::string& home) {
  return {root, "Software\\" + product + "\\" + version + "\\" + vm + "\\MSI", {{"Path", REG_SZ, Sz("@\\" + home + "\\")}}};
}

struct SearchCase {
  const char* name;
  std::string order, rules, jvmPath;
  std::vector<File> files;
  std::vector<Key> keys;
  std::string javaHome, path;  // the environment's; "" unset
  std::string found, home;     // the jvm.dll and the home the search answers; "" for none
  std::pair<std::string, std::string> link = {};  // a folder link in the scratch folder: name, target
};
void PrintTo(const SearchCase& c, std::ostream* out) { *out << c.name; }

class RuntimeSearch : public testing::Test {
 protected:
  void SetUp() override {
    DeleteKeys(), ScreenRecords().clear();
    ASSERT_FALSE(root_.empty());
  }
  void TearDown() override { RemoveTree(root_), DeleteKeys(), ScreenRecords().clear(); }
  std::string At(std::string text) const {
    for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + root_.size())) text.replace(at, 1, root_);
    return text;
  }
  // Sets a case up and searches; the jvm.dll found or "", and the home in home_.
  std::string Search(const SearchCase& c) {
    for (const File& file : c.files) EXPECT_TRUE(MakeFile(At("@\\" + file.path), file.bytes)) << file.path;
    for (Key key : c.keys) {
      for (RegistryValue& value : key.values) value.bytes = At(value.bytes);
      WriteKey(key.root, key.path, key.values, key.view);
    }
    if (!c.link.first.empty() && !MakeDirectoryLink(root_, c.link.first, c.link.second)) ADD_FAILURE() << "no link";
    EXPECT_TRUE(ReplaceConfigText(&EditLaunchConfig().JvmSearchOrder, c.order.c_str()));
    EXPECT_TRUE(ReplaceConfigText(&EditLaunchConfig().JvmVersion, c.rules.c_str()));
    EXPECT_TRUE(ReplaceConfigText(&EditLaunchConfig().JvmPath, At(c.jvmPath).c_str()));
    EnvironmentVariable javaHome("JAVA_HOME", c.javaHome.empty() ? nullptr : At(c.javaHome).c_str());
    EnvironmentVariable path("PATH", At(c.path).c_str());
    RuntimeFound found;
    std::memset(&found, '#', sizeof(found));
    const bool located = LocateJavaRuntime(&found);
    home_ = found.home;
    EXPECT_EQ(located, found.jvmDll[0] != '\0');
    return located ? found.jvmDll : "";
  }
  std::string root_ = MakeScratchRoot(), home_;
  SettingText order_{&EditLaunchConfig().JvmSearchOrder, ""}, rules_{&EditLaunchConfig().JvmVersion, ""},
      jvmPath_{&EditLaunchConfig().JvmPath, ""}, document_{&EditLaunchConfig().NoJvmDocument, ""},
      command_{&EditLaunchConfig().NoJvmCommand, ""};
  bool savedReport_ = std::exchange(EditLaunchConfig().ReportNoJvm, false);
  ~RuntimeSearch() override { EditLaunchConfig().ReportNoJvm = savedReport_; }
};

class Sources : public RuntimeSearch, public testing::WithParamInterface<SearchCase> {};

TEST_P(Sources, AnswerTheRuntimeEachDigitShouldFind) {
  const SearchCase& c = GetParam();
  const std::string found = Search(c);
  EXPECT_EQ(found, c.found.empty() ? "" : At("@\\" + c.found));
  EXPECT_EQ(home_, c.home.empty() ? "" : At("@\\" + c.home));
  EXPECT_TRUE(ScreenRecords().empty());
}
File Dll(const std::string& path) { return {path, ""}; }
const std::string Deep = [] {
  std::string deep = "home\\deep";
  while (deep.size() < 320) deep += "\\" + std::string(100, 'n');
  return deep;
}();

INSTANTIATE_TEST_SUITE_P(Cases, Sources, testing::Values(
    // 0: the path list, relative to the current folder (the test program's) or absolute.
    SearchCase{"ListMissingAndEmptyEntriesArePassed", "0", "", ";missing\\jvm.dll;" + std::string(300, 'x') + ";@\\jre;@\\b\\jvm.dll;@\\a\\jvm.dll",
               {Dll("a\\jvm.dll"), Dll("b\\jvm.dll"), Dll("jre\\x")}, {}, "", "", "b\\jvm.dll", ""},
    // 5: JAVA_HOME, quotes dropped, in the layouts' order; no version rule applies.
    SearchCase{"JavaHomeLayoutsInOrder", "5", "99", "", {Dll("jdk\\bin\\server\\jvm.dll"), Dll("jdk\\bin\\client\\jvm.dll"),
               Dll("jdk\\jre\\bin\\server\\jvm.dll")}, {}, "\"@\\jdk\"", "", "jdk\\jre\\bin\\server\\jvm.dll", ""},
    SearchCase{"JavaHomeQuotesInsideAndBinClientBeforeServer", "5", "", "", {Dll("my jdk\\bin\\server\\jvm.dll"),
               Dll("my jdk\\bin\\client\\jvm.dll")}, {}, "\"@\\my\" jdk\\", "", "my jdk\\bin\\client\\jvm.dll", ""},
    SearchCase{"JavaHomeJreClientFirst", "5", "", "", {Dll("j\\bin\\server\\jvm.dll"), Dll("j\\jre\\bin\\server\\jvm.dll"),
               Dll("j\\jre\\bin\\client\\jvm.dll")}, {}, "@\\j", "", "j\\jre\\bin\\client\\jvm.dll", ""},
    SearchCase{"JavaHomeLongerThanAPathIsPassedOver", "50", "", "@\\jdk\\bin\\server\\jvm.dll", {Dll("jdk\\bin\\server\\jvm.dll")},
               {}, "C:\\" + std::string(300, 'j'), "", "jdk\\bin\\server\\jvm.dll", ""},
    // 1-4: the older installers' rows. CurrentVersion first when its rule passes, else the subkeys.
    SearchCase{"RejectedCurrentVersionGivesWayToASubkey", "1", "17", "", {Dll("jre8\\jvm.dll"), Dll("jdk17\\jvm.dll")},
               {Current(0, "1.8"), Row(0, "1.8", "@\\jre8", "@\\jre8\\jvm.dll"), Row(0, "17.0.1", "@\\jdk17", "@\\jdk17\\jvm.dll")},
               "", "", "jdk17\\jvm.dll", "jdk17"},
    SearchCase{"AcceptedCurrentVersionBeforeTheSubkeys", "1", "11", "", {Dll("jdk11\\jvm.dll"), Dll("jdk21\\jvm.dll")},
               {Current(0, "21"), Row(0, "11", "@\\jdk11", "@\\jdk11\\jvm.dll"), Row(0, "21", "@\\jdk21", "@\\jdk21\\jvm.dll")},
               "", "", "jdk21\\jvm.dll", "jdk21"},
    // Without a RuntimeLib that opens: each JvmPath entry under the home, the digit's preferred
    // layout (capitals on disk tell a listed path from a built one), then any jvm.dll below it.
    SearchCase{"EachJvmPathEntryUnderTheHome", "1", "", "jre\\x.dll;bin\\server\\jvm.dll", {Dll("jdk\\bin\\server\\jvm.dll"), Dll("jdk\\a\\jvm.dll")},
               {Row(0, "17", "@\\jdk", "@\\jdk\\missing.dll")}, "", "", "jdk\\bin\\server\\jvm.dll", "jdk"},
    SearchCase{"PreferredLayoutBeforeTheListing", "3", "", "lib\\jvm.dll", {Dll("h\\JRE\\BIN\\SERVER\\jvm.dll")},
               {Row(3, "17", "@\\h")}, "", "", "h\\jre\\bin\\server\\jvm.dll", "h"},
    SearchCase{"DigitTwoReadsIbmsJdkInItsLayout", "2", "", "", {Dll("ibm\\jre\\bin\\jrockit\\jvm.dll"), Dll("ibm\\jre\\bin\\classic\\jvm.dll")},
               {Row(5, "1.6", "@\\ibm")}, "", "", "ibm\\jre\\bin\\jrockit\\jvm.dll", "ibm"},
    SearchCase{"DigitFourReadsJavaSoftsJdk", "4", "", "", {Dll("jdk\\jre\\bin\\classic\\jvm.dll")}, {Row(4, "1.4", "@\\jdk")}, "", "",
               "jdk\\jre\\bin\\classic\\jvm.dll", "jdk"},
    SearchCase{"ListingFindsAnyJvmDllInAnyCase", "1", "", "", {Dll("jdk\\a\\jvm.dll.bak"), Dll("jdk\\b\\xjvm.dll"), Dll("jdk\\lib\\amd64\\JVM.DLL")},
               {Row(0, "17", "@\\jdk")}, "", "", "jdk\\lib\\amd64\\jvm.dll", "jdk"},
    // Rows without usable values, a home holding no runtime, a subkey name longer than a key name,
    // a tree deeper than a path and a RuntimeLib longer than one are passed.
    SearchCase{"UnusableRowsArePassed", "1", "", "", {Dll("empty19\\readme.txt"), Dll("jdk20\\jvm.dll"), Dll("long\\jvm.dll")},
               {Row(0, "17", ""), {Machine, std::string(RuntimeRegistryKeys[0]) + "\\18", {{"RuntimeLib", REG_BINARY, "@\\jdk20\\jvm.dll"},
               {"JavaHome", REG_DWORD, std::string("\1\0\0\0", 4)}}}, Row(1, "19", "@\\empty19", "@\\empty19\\jvm.dll"),
               Row(1, "17." + std::string(237, 'x'), "@\\long", "@\\long\\jvm.dll"), Row(2, "20", "", "@\\jdk20\\jvm.dll")},
               "", "", "jdk20\\jvm.dll", ""},
    SearchCase{"DeepTreeAndOverlongRuntimeLibArePassed", "1", "", "", {Dll(Deep + "\\jvm.dll"), Dll("jdk\\bin\\server\\jvm.dll")},
               {Row(0, "17", "@\\home"), Row(2, "17", "@\\jdk", "C:\\" + std::string(300, 'r') + "\\jvm.dll")}, "", "",
               "jdk\\bin\\server\\jvm.dll", "jdk"},
    // The order: the first digit that yields a runtime wins; other characters are skipped.
    SearchCase{"FirstSourceThatYieldsWins", "x-,3 50", "", "@\\list\\jvm.dll", {Dll("list\\jvm.dll"), Dll("reg\\jvm.dll"),
               Dll("home\\bin\\server\\jvm.dll")}, {Row(3, "17", "", "@\\reg\\jvm.dll")}, "@\\home", "", "reg\\jvm.dll", ""},
    SearchCase{"AHomeWithoutARuntimeIsNotKeptForTheNextSource", "15", "", "", {Dll("jdk\\bin\\server\\jvm.dll")},
               {Row(0, "17", "@\\empty")}, "@\\jdk", "", "jdk\\bin\\server\\jvm.dll", ""},
    SearchCase{"SourcesWithoutARuntimeArePassed", "4150", "", "@\\list\\jvm.dll", {Dll("list\\jvm.dll"), Dll("home\\bin\\server\\jvm.dll")},
               {}, "@\\home", "", "home\\bin\\server\\jvm.dll", ""},
    // 6-8: today's installers: the highest version that passes every rule and has a 64-bit jvm.dll.
    SearchCase{"HighestPassingVersion", "6", ">=11;<21", "", Jdk("jdk11") + Jdk("jdk17") + Jdk("jre21"),
               {JavaSoft(Machine, "JDK", "11.0.21", "jdk11"), JavaSoft(Machine, "JDK", "17.0.9", "jdk17"),
                JavaSoft(Machine, "JRE", "21.0.1", "jre21"), {Machine, "Software\\JavaSoft\\JDK", {{"CurrentVersion", REG_SZ, Sz("11.0.21")}}}},
               "", "", "jdk17\\bin\\server\\jvm.dll", "jdk17"},
    SearchCase{"ReleaseFileOutranksTheKeyName", "6", ">=19", "", Jdk("upgraded", "21.0.1") + Jdk("jdk19", "19.0.2") + Jdk("jdk22", "17.0.2"),
               {JavaSoft(Machine, "JDK", "17", "upgraded"), JavaSoft(Machine, "JDK", "19", "jdk19"), JavaSoft(Machine, "JDK", "22", "jdk22")},
               "", "", "upgraded\\bin\\server\\jvm.dll", "upgraded"},
    SearchCase{"RuntimeLibFirstUnlessItIsThirtyTwoBit", "6", "", "", Jdk("a") + Jdk("b") + std::vector<File>{{"a\\c\\jvm.dll", Image(ImageMachineAmd64)},
               {"b\\x86\\jvm.dll", Image(ImageMachineI386)}},
               {{Machine, "Software\\JavaSoft\\JDK\\21", {{"JavaHome", REG_SZ, Sz("@\\a")}, {"RuntimeLib", REG_SZ, Sz("@\\a\\c\\jvm.dll")}}},
                {Machine, "Software\\JavaSoft\\JDK\\22", {{"JavaHome", REG_SZ, Sz("@\\b")}, {"RuntimeLib", REG_SZ, Sz("@\\b\\x86\\jvm.dll")}}}},
               "", "", "b\\bin\\server\\jvm.dll", "b"},
    SearchCase{"VendorsAndTheirVersionValues", "7", "17", "", Jdk("temurin17", "17.0.9") + Jdk("ms21", "21.0.1") + Jdk("liberica21", "21.0.2") +
               Jdk("zulu22", "", ImageMachineI386) + Jdk("semeru17") + Jdk("notimage23", "23", 0) + Jdk("adopt20"),
               {Msi(Machine, "Eclipse Adoptium\\JDK", "17.0.9.9", "hotspot", "temurin17"), Msi(Machine, "Microsoft\\JDK", "21.0.1.12", "hotspot", "ms21"),
                Msi(Machine, "Semeru\\JRE", "17.0.8.7", "openj9", "semeru17"), Msi(Machine, "Eclipse Foundation\\JRE", "23", "hotspot", "notimage23"),
                Msi(Machine, "AdoptOpenJDK\\JDK", "20.0.1", "openj9", "adopt20"),
                {Machine, "Software\\BellSoft\\Liberica\\jdk-21", {{"InstallationPath", REG_SZ, Sz("@\\liberica21\\")}, {"MajorVersion", REG_SZ, Sz("21")},
                 {"MinorVersion", REG_DWORD, std::string("\2\0\0\0", 4)}}},
                {Machine, "Software\\Azul Systems\\Zulu\\zulu-22", {{"InstallationPath", REG_SZ, Sz("@\\zulu22")}}}},
               "", "", "liberica21\\bin\\server\\jvm.dll", "liberica21"},
    SearchCase{"NeitherTheThirtyTwoBitViewNorPerUserKeysForMachineDigits", "67", "", "", Jdk("jdk21") + Jdk("user21"),
               {{Machine, "Software\\JavaSoft\\JDK\\21", {{"JavaHome", REG_SZ, Sz("@\\jdk21")}}, KEY_WOW64_32KEY},
                JavaSoft(User, "JDK", "21", "user21"), Msi(User, "Microsoft\\JDK", "21.0.1.12", "hotspot", "user21")},
               "", "", "", ""},
    SearchCase{"PerUser", "8", "", "", Jdk("user17") + Jdk("user21"),
               {JavaSoft(User, "JDK", "17", "user17"), Msi(User, "Eclipse Adoptium\\JDK", "21.0.1.12", "hotspot", "user21")},
               "", "", "user21\\bin\\server\\jvm.dll", "user21"},
    SearchCase{"PerUserJavaSoftKeys", "8", "", "", Jdk("user17") + Jdk("user21"), {JavaSoft(User, "JDK", "21", "user21"),
               Msi(User, "Eclipse Adoptium\\JDK", "17.0.9.9", "hotspot", "user17")}, "", "", "user21\\bin\\server\\jvm.dll", "user21"},
    // 9: java.exe on PATH, in a bin folder, its home's release file giving the version.
    SearchCase{"HighestOnPath", "9", "17", "", Jdk("jdk17", "17.0.9") + Jdk("my jdk21", "21.0.1") + Jdk("x86", "22", ImageMachineI386) + Jdk("norelease"),
               {}, "", "@\\nothing;@\\norelease\\bin;@\\jdk17\\bin;\"@\\my jdk21\\bin\";@\\x86\\bin", "my jdk21\\bin\\server\\jvm.dll", "my jdk21"},
    SearchCase{"JavaOutsideABinFolderIsNoRuntime", "9", "", "", {{"tools\\java.exe", Image(ImageMachineAmd64)}, {"tools\\bin\\server\\jvm.dll",
               Image(ImageMachineAmd64)}, {"tools\\release", "JAVA_VERSION=\"21\"\n"}}, {}, "", "@\\tools", "", ""},
    SearchCase{"PathFolderLinkedToTheRuntime", "9", "17", "", Jdk("jdk21", "21.0.1"), {}, "", "@\\javapath", "jdk21\\bin\\server\\jvm.dll",
               "jdk21", {"javapath", "jdk21/bin"}}),
    [](const testing::TestParamInfo<SearchCase>& info) { return std::string(info.param.name); });

// The launcher's own helpers stand in for the shell's: they record what the search asks for.
void RecordDocument(const char* document) { ScreenRecords().push_back({"open", document, ""}); }
void RecordCommand(const char* commandLine) { ScreenRecords().push_back({"run", commandLine, ""}); }

TEST_F(RuntimeSearch, NothingFoundReportsOpensAndRunsWhatIsConfigured) {
  const struct {
    bool report;
    std::string document, command;
    std::vector<ScreenRecord> shown;
  } cases[] = {{false, "", "", {}},
               {false, "https://example.org/java", "", {{"open", "https://example.org/java", ""}}},
               {true, "C:\\docs\\java.html", "setup.exe /quiet",
                {{"error box", "No runtime (min %s%d 100%).", ""}, {"open", "C:\\docs\\java.html", ""}, {"run", "setup.exe /quiet", ""}}}};
  auto document = std::exchange(OpenNoJvmDocument, RecordDocument);
  auto command = std::exchange(StartNoJvmCommand, RecordCommand);
  MessageText message(MessageNoRuntime, "No runtime (min %s).");
  for (const auto& c : cases) {
    ScreenRecords().clear();
    EditLaunchConfig().ReportNoJvm = c.report;
    EXPECT_TRUE(ReplaceConfigText(&EditLaunchConfig().NoJvmDocument, c.document.c_str()));
    EXPECT_TRUE(ReplaceConfigText(&EditLaunchConfig().NoJvmCommand, c.command.c_str()));
    EXPECT_EQ(Search({"", "012345", "%s%d 100%", "@\\missing\\jvm.dll"}), "");  // the rule's text is no format
    EXPECT_EQ(ScreenRecords(), c.shown);
  }
  OpenNoJvmDocument = document;
  StartNoJvmCommand = command;
}

}  // namespace
