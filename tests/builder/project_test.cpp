// Reading project files: typed settings, messages and their conversions, and a clear message for
// every kind of bad input.
#include "project.h"

#include <gtest/gtest.h>

#include <string>

#include "base/scramble.h"
#include "base/setting_table.h"

namespace {

using namespace corvane::builder;

Project Load(const std::string& text) {
  Project project;
  const Error error = ApplyProjectText(text, "app.toml", ".", project);
  EXPECT_FALSE(error.has_value()) << *error;
  return project;
}

TEST(Project, StoresSettingsAsTheLauncherReadsThem) {
  const Project p = Load(R"toml(
[settings]
MainClass = "org.example.Main"
ClassPath = "a.jar;lib"
WorkingDir = ""
AllowMultipleInstances = true
ServiceOnly = false
SplashSeconds = 5
PriorityClass = -1
SplashText = "Starting\nplease wait"
)toml");
  EXPECT_STREQ(DescrambleText(p.settings.at(IdMainClass).c_str()), "org.example.Main");
  EXPECT_EQ(p.settings.at(IdClassPath), "a.jar;lib");
  EXPECT_EQ(p.settings.at(IdWorkingDir), "<null>");
  EXPECT_EQ(p.settings.at(IdAllowMultipleInstances), "1");
  EXPECT_EQ(p.settings.at(IdServiceOnly), "0");
  EXPECT_EQ(p.settings.at(IdSplashSeconds), "5");
  EXPECT_EQ(p.settings.at(IdPriorityClass), "-1");
  EXPECT_EQ(p.settings.at(IdSplashText), "Starting\\nplease wait");
  EXPECT_EQ(p.settings.count(IdJvmVersion), 0u) << "keys left out keep the stub's value";
}

TEST(Project, StoresMessagesWithLineBreaksAndTranslations) {
  const Project p = Load(R"toml(
[messages]
1 = "Already running.\nTry again later."
9 = "Class %s is missing (100%% sure)"
[messages.translations.1031]
1 = "L\u00e4uft bereits."
)toml");
  EXPECT_EQ(p.messages.at(1), "Already running.\\nTry again later.");
  EXPECT_EQ(p.messages.at(9), "Class %s is missing (100%% sure)");
  EXPECT_EQ(p.translations.at(1031).at(1), "L\xC3\xA4uft bereits.");
}

TEST(Project, LaterFilesOverrideEarlierOnes) {
  Project p = Load("[settings]\nServiceName = \"Base\"\nClassPath = \"a.jar\"\n[archives]\nfiles = [\"x.jar\"]\n");
  ASSERT_FALSE(ApplyProjectText("[settings]\nServiceName = \"Demo\"\n", "over.toml", "over", p));
  EXPECT_EQ(p.settings.at(IdServiceName), "Demo");
  EXPECT_EQ(p.settings.at(IdClassPath), "a.jar");
  ASSERT_TRUE(p.archives.has_value());
  EXPECT_EQ(p.archives->at(0).file, "x.jar");
  ASSERT_FALSE(ApplyProjectText("[archives]\nfiles = [\"y.jar\"]\n", "over.toml", "over", p));
  EXPECT_EQ(p.archives->at(0).file, "over/y.jar") << "paths start at the folder of the file that gives them";
}

TEST(Project, ReadsArchivesResourcesVersionAndManifest) {
  const Project p = Load(R"toml(
stub = "stubs/corvane-stub.exe"
output = "out/App.exe"
[archives]
files = ["lib/*.jar", { file = "build\\app-1.0.jar", name = "app.jar" }]
[resources]
icon = "app.ico"
splash = "splash.png"
[version]
file_version = "1.2.3.4"
product_version = "1.2"
company = "Example Ltd"
[manifest]
execution_level = "requireAdministrator"
dpi_awareness = "per-monitor-v2"
long_path_aware = true
utf8 = true
)toml");
  EXPECT_EQ(p.stub, "stubs/corvane-stub.exe");  // relative to the folder given, here "."
  EXPECT_EQ(p.output, "out/App.exe");
  ASSERT_EQ(p.archives->size(), 2u);
  EXPECT_EQ(p.archives->at(1).name, "app.jar");
  EXPECT_EQ(p.archives->at(1).file, "build/app-1.0.jar") << "either separator";
  EXPECT_EQ(p.icon, "app.ico");
  EXPECT_EQ(p.splash, "splash.png");
  EXPECT_EQ(p.version->fileVersion, (std::array<uint16_t, 4>{1, 2, 3, 4}));
  EXPECT_EQ(p.version->productVersion, (std::array<uint16_t, 4>{1, 2, 0, 0}));
  EXPECT_EQ(p.version->companyName, "Example Ltd");
  EXPECT_EQ(p.manifest->executionLevel, ExecutionLevel::RequireAdministrator);
  EXPECT_EQ(p.manifest->dpiAwareness, DpiAwareness::PerMonitorV2);
  EXPECT_TRUE(p.manifest->longPathAware);
  EXPECT_TRUE(p.manifest->utf8CodePage);
}

struct BadCase {
  const char* name;
  std::string text;
  std::string error;
};

class BadProject : public testing::TestWithParam<BadCase> {};

TEST_P(BadProject, IsRefusedWithFileLineKeyAndReason) {
  Project project;
  project.settings[IdClassPath] = "unchanged";
  const Error error = ApplyProjectText(GetParam().text, "app.toml", ".", project);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(*error, GetParam().error);
  EXPECT_EQ(project.settings.size(), 1u) << "a refused project changes nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadProject,
    testing::Values(
        BadCase{"UnknownSetting", "[settings]\nClassPath = \"x\"\nJvmVerson = \"17\"\n",
                "app.toml:3: settings.JvmVerson: unknown setting"},
        BadCase{"UnknownTable", "[setings]\nx = 1\n", "app.toml:1: setings: unknown table"},
        BadCase{"UnknownTopLevelKey", "name = \"x\"\n", "app.toml:1: name: unknown key"},
        BadCase{"FlagGivenAsText", "[settings]\nServiceOnly = \"yes\"\n",
                "app.toml:2: settings.ServiceOnly: must be true or false"},
        BadCase{"NumberGivenAsText", "[settings]\nSplashSeconds = \"5\"\n",
                "app.toml:2: settings.SplashSeconds: must be a whole number"},
        BadCase{"TextGivenAsNumber", "[settings]\nClassPath = 5\n", "app.toml:2: settings.ClassPath: must be a text"},
        BadCase{"NumberTooLarge", "[settings]\nPriorityClass = 4294967296\n",
                "app.toml:2: settings.PriorityClass: does not fit a signed 32-bit number"},
        BadCase{"NegativeSplashSeconds", "[settings]\nSplashSeconds = -1\n",
                "app.toml:2: settings.SplashSeconds: must not be negative"},
        BadCase{"UnknownStreamMode", "[settings]\nStdOutMode = 3\n",
                "app.toml:2: settings.StdOutMode: must be 0 (none), 1 (file) or 2 (capture)"},
        BadCase{"EmptyMainClass", "[settings]\nMainClass = \"\"\n", "app.toml:2: settings.MainClass: must name the main class"},
        BadCase{"MainClassTooLong", "[settings]\nMainClass = \"" + std::string(256, 'a') + "\"\n",
                "app.toml:2: settings.MainClass: is longer than 255 bytes"},
        BadCase{"ServiceNameWithQuote", "[settings]\nServiceName = \"My \\\"Service\\\"\"\n",
                "app.toml:2: settings.ServiceName: must not hold a double quote"},
        BadCase{"ServiceDescriptionWithTrailingBackslash", "[settings]\nServiceDescription = \"Runs C:\\\\\"\n",
                "app.toml:2: settings.ServiceDescription: must not end with a backslash"},
        BadCase{"TextWithZero", "[settings]\nClassPath = \"a\\u0000b\"\n",
                "app.toml:2: settings.ClassPath: must not hold a zero character"},
        BadCase{"MessageWithAStrayConversion", "[messages]\n9 = \"Class %s not found (%d)\"\n",
                "app.toml:2: messages.9: must hold exactly one \"%s\", which the launcher fills, and no other "
                "conversion (found \"%s%d\")"},
        BadCase{"MessageWithAWriteConversion", "[messages]\n2 = \"%n%s\"\n",
                "app.toml:2: messages.2: must hold exactly one \"%s\", which the launcher fills, and no other "
                "conversion (found \"%n%s\")"},
        BadCase{"MessageWithoutItsArgument", "[messages]\n14 = \"Service installed.\"\n",
                "app.toml:2: messages.14: must hold exactly one \"%s\", which the launcher fills, and no other "
                "conversion (found \"\")"},
        BadCase{"MessageThatTakesNoArgumentWithOne", "[messages]\n1 = \"%s is running\"\n",
                "app.toml:2: messages.1: must hold no printf conversion such as \"%s\" (the launcher fills nothing "
                "in; write \"%%\" for a percent sign)"},
        BadCase{"MessageEndingInAPercentSign", "[messages]\n21 = \"100%\"\n",
                "app.toml:2: messages.21: ends with an unfinished \"%\" (write \"%%\" for a percent sign)"},
        BadCase{"UnknownMessage", "[messages]\n22 = \"x\"\n",
                "app.toml:2: messages.22: unknown message (messages are numbered 1 to 21)"},
        BadCase{"BadTranslationLanguage", "[messages.translations.german]\n1 = \"x\"\n",
                "app.toml:1: messages.translations.german: must be a Windows language id other than 3081 (for "
                "example 1031 for German)"},
        BadCase{"TranslationWithAStrayConversion", "[messages.translations.1031]\n5 = \"JVM %s %s\"\n",
                "app.toml:2: messages.translations.1031.5: must hold exactly one \"%s\", which the launcher fills, "
                "and no other conversion (found \"%s%s\")"},
        BadCase{"ArchiveNameWithADirectory", "[archives]\nfiles = [{ file = \"a.jar\", name = \"lib/a.jar\" }]\n",
                "app.toml:2: archives.files.name: the name \"lib/a.jar\" is not a bare file name (it holds \"/\")"},
        BadCase{"ArchiveNameThatIsADevice", "[archives]\nfiles = [{ file = \"a.jar\", name = \"NUL.jar\" }]\n",
                "app.toml:2: archives.files.name: the name \"NUL.jar\" is a Windows device name"},
        BadCase{"ArchiveAsNumber", "[archives]\nfiles = [1]\n",
                "app.toml:2: archives.files: each archive must be a text or a table { file = \"...\", name = \"...\" }"},
        BadCase{"BadExecutionLevel", "[manifest]\nexecution_level = \"admin\"\n",
                "app.toml:2: manifest.execution_level: must be \"asInvoker\", \"highestAvailable\" or "
                "\"requireAdministrator\""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Project, ErrorsOfParsersNamePlaceAndReason) {
  // Errors whose wording comes from a library only need to name the place.
  // Characters that are not ASCII outside a text: the library has to tell them from whitespace.
  for (const char* text : {"[version]\nfile_version = \"1.2.3.4.5\"\n", "[settings]\nClassPath = \"unterminated\n",
                           "[settings]\nSplashSeconds = 1\xC4\xA8\n", "[settings]\nClassPath = \"a.jar\" \xC3\xA9\n"}) {
    Project project;
    const Error error = ApplyProjectText(text, "app.toml", ".", project);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->rfind("app.toml:2: ", 0), 0u) << *error;
    EXPECT_EQ(project.version.has_value(), false);
    EXPECT_GT(error->size(), 14u) << *error;
  }
}

TEST(Project, NonAsciiTextsAndCommentsAreRead) {
  // A continued line of a multi-line text may start with any character; texts of every kind and
  // comments may hold them.
  const Project p = Load("# R\xC3\xA9sum\xC3\xA9\n[version]\n"
                         "company = \"\"\"Caf\\\n   \xC3\xA9 & \\\r\n\n\xF0\x9F\x98\x80 ltd\"\"\"\n"
                         "description = 'Caf\xC3\xA9 \\'\n"
                         "product_name = '''\xC4\xA8\\\n\xC4\xA8'''\n"
                         "copyright = \"\xC2\xA9 \\\" \\\\\"\n");
  ASSERT_TRUE(p.version.has_value());
  EXPECT_EQ(p.version->companyName, "Caf\xC3\xA9 & \xF0\x9F\x98\x80 ltd");
  EXPECT_EQ(p.version->fileDescription, "Caf\xC3\xA9 \\");
  EXPECT_EQ(p.version->productName, "\xC4\xA8\\\n\xC4\xA8");
  EXPECT_EQ(p.version->legalCopyright, "\xC2\xA9 \" \\");
}

TEST(Project, MessageConversionsMatchWhatTheLauncherFills) {
  for (int id = 1; id <= 21; ++id) {
    const bool none = id == 1 || id == 8 || id == 21;
    EXPECT_STREQ(MessageConversions(id), none ? "" : "%s") << id;
  }
}

}  // namespace
