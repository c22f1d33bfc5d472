// The splash, end to end under Wine and Xvfb: screenshots taken while a launcher starts the
// scenario application show the bitmap centred on the 1280 x 1024 screen with the splash text drawn
// over its bottom band, and show it gone once the application has a window or the time is up.
// Waits are bounded polls that assert an order of events, never a duration.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "java_app_support.h"
#include "pe_image.h"
#include "resource_tree.h"

namespace {

using namespace corvane::test;

constexpr int ScreenWidth = 1280, ScreenHeight = 1024;

struct Colour {
  int r, g, b;
  bool operator==(const Colour&) const = default;
};
constexpr Colour Red{200, 30, 30}, Green{30, 160, 60}, Blue{40, 60, 200}, Yellow{230, 200, 40}, White{255, 255, 255};

void PrintTo(const Colour& c, std::ostream* out) { *out << "(" << c.r << ", " << c.g << ", " << c.b << ")"; }

// A 24-bit bottom-up screenshot of the whole screen, as the driver saves it.
class Screen {
 public:
  explicit Screen(std::string bytes) : bytes_(std::move(bytes)) {}
  bool Valid() const { return bytes_.size() == 54u + static_cast<size_t>(ScreenWidth) * 3 * ScreenHeight; }
  Colour At(int x, int y) const {
    const size_t at = 54 + (static_cast<size_t>(ScreenHeight - 1 - y) * ScreenWidth + x) * 3;
    return {static_cast<unsigned char>(bytes_[at + 2]), static_cast<unsigned char>(bytes_[at + 1]),
            static_cast<unsigned char>(bytes_[at])};
  }

 private:
  std::string bytes_;
};

// The picture of a splash `width` x `height` placed as the launcher centres it.
struct Placement {
  int left, top;
  Placement(int width, int height) : left((ScreenWidth - width) / 2), top((ScreenHeight - height) / 2) {}
};

// The quadrants of the 240 x 120 picture (a 90-row picture area above a 30-row white band).
bool ShowsQuadrants(const Screen& screen) {
  const Placement p(240, 120);
  return screen.At(p.left + 60, p.top + 20) == Red && screen.At(p.left + 180, p.top + 20) == Green &&
         screen.At(p.left + 60, p.top + 70) == Blue && screen.At(p.left + 180, p.top + 70) == Yellow;
}

// Dark pixels in the white band: the drawn text.
int DarkPixelsInBand(const Screen& screen) {
  const Placement p(240, 120);
  int dark = 0;
  for (int y = p.top + 90; y < p.top + 120; ++y) {
    for (int x = p.left; x < p.left + 240; ++x) {
      const Colour c = screen.At(x, y);
      if (c.r + c.g + c.b < 200) ++dark;
    }
  }
  return dark;
}

int WhitePixelsInBand(const Screen& screen) {
  const Placement p(240, 120);
  int white = 0;
  for (int y = p.top + 90; y < p.top + 120; ++y) {
    for (int x = p.left; x < p.left + 240; ++x) white += screen.At(x, y) == White ? 1 : 0;
  }
  return white;
}

// Takes every bitmap out of an executable, with the builder's own PE code.
void RemoveBitmaps(const fs::path& exe) {
  namespace b = corvane::builder;
  const std::string bytes = ReadAll(exe);
  b::PeImage image;
  ASSERT_FALSE(b::PeImage::Parse(b::Bytes(bytes.begin(), bytes.end()), image).has_value());
  b::ResourceTree tree;
  ASSERT_FALSE(image.ReadResources(tree).has_value());
  ASSERT_EQ(tree.RemoveType(b::ResourceType::Bitmap), 1u);
  ASSERT_FALSE(image.ReplaceResources(tree).has_value());
  const b::Bytes written = image.Serialize();
  std::ofstream(exe, std::ios::binary).write(reinterpret_cast<const char*>(written.data()),
                                             static_cast<std::streamsize>(written.size()));
}

class Splash : public JavaAppTest {
 protected:
  // A launcher for the scenario application with these settings and splash picture, made by
  // corvane-build from a project written here.
  static AppFolder SplashApp(const std::string& settings, const std::string& picture) {
    const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    AppFolder app{Session().FreshDir("apps/" + test), ""};
    const fs::path project = app.folder / "project.toml";
    std::ofstream(project) << "[settings]\n"
                              "JvmSearchOrder = \"0\"\nJvmPath = \"jre\\\\bin\\\\server\\\\jvm.dll\"\n"
                              "ClassPath = \"scenario-app.jar\"\nMainClass = \"corvane.test.ScenarioApp\"\n"
                              "StdOutMode = 0\nStdErrMode = 0\nAllowMultipleInstances = true\n"
                           << settings << "\n[resources]\nsplash = \"" << CORVANE_SOURCE_DIR
                           << "/tests/fixtures/images/" << picture << "\"\n";
    const std::string command = "'" + std::string(std::getenv("CORVANE_BUILD_TOOL")) + "' build '" +
                                project.string() + "' --stub '" + Win64BuildDir() + "/resources/corvane.exe' -o '" +
                                (app.folder / "app.exe").string() + "' > /dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    fs::copy_file(ScenarioJar(), app.folder / "scenario-app.jar");
    PutRuntime(app.folder / "jre", Runtime::Fake);
    app.launcher = WindowsPath((app.folder / "app.exe").string());
    return app;
  }

  static std::unique_ptr<DrivenProcess> StartApp(const AppFolder& app, const std::string& arguments) {
    RunOptions options;
    options.workDir = app.folder.string();
    return Session().Start(Quote(app.launcher) + " " + arguments, options);
  }

  static Screen Shot(DrivenProcess& process, const AppFolder& app) {
    const fs::path path = app.folder / "screen.bmp";
    fs::remove(path);
    process.Screenshot(path.string());
    return Screen(ReadAll(path));
  }

  // Screenshots until `seen` holds for one, while the process runs (bounded); the last one.
  template <typename Condition>
  static std::optional<Screen> ShotWhen(DrivenProcess& process, const AppFolder& app, Condition seen) {
    for (int attempt = 0; attempt < 100 && process.Running(); ++attempt) {
      Screen screen = Shot(process, app);
      if (screen.Valid() && seen(screen)) return screen;
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    return std::nullopt;
  }
};

struct PictureCase {
  const char* name;
  const char* picture;
};

class SplashPictures : public Splash, public testing::WithParamInterface<PictureCase> {};

TEST_P(SplashPictures, ShowTheBitmapCentredWithTheText) {
  const AppFolder app = SplashApp("SplashUntilWindow = false\nSplashSeconds = 60\nSplashText = \"Loading tests...\"",
                                  GetParam().picture);
  auto process = StartApp(app, "sleep:6000");
  const std::optional<Screen> screen = ShotWhen(*process, app, ShowsQuadrants);
  ASSERT_TRUE(screen.has_value()) << "the splash never showed";
  EXPECT_GT(DarkPixelsInBand(*screen), 40) << "no text drawn in the band";
  EXPECT_GT(WhitePixelsInBand(*screen), 240 * 30 / 2) << "the band is not the picture's";
  process->Wait(std::chrono::seconds(30));
}

INSTANTIATE_TEST_SUITE_P(Depths, SplashPictures,
                         testing::Values(PictureCase{"TwentyFourBits", "splash-quadrants.png"},
                                         PictureCase{"ThirtyTwoBits", "splash-quadrants-alpha.png"}),
                         [](const testing::TestParamInfo<PictureCase>& info) { return std::string(info.param.name); });

TEST_F(Splash, AnEmptyTextLeavesTheBandAsThePictureHasIt) {
  const AppFolder app = SplashApp("SplashUntilWindow = false\nSplashSeconds = 60\nSplashText = \"\"", "splash-quadrants.png");
  auto process = StartApp(app, "sleep:6000");
  const std::optional<Screen> screen = ShotWhen(*process, app, ShowsQuadrants);
  ASSERT_TRUE(screen.has_value()) << "the splash never showed";
  EXPECT_EQ(DarkPixelsInBand(*screen), 0);
  process->Wait(std::chrono::seconds(30));
}

TEST_F(Splash, APictureLargerThanTheScreenIsCentred) {
  const AppFolder app = SplashApp("SplashUntilWindow = false\nSplashSeconds = 60", "splash-huge.png");
  auto process = StartApp(app, "sleep:6000");
  // The picture's centre, where its four quadrants meet, lies on the screen's centre.
  const int cx = ScreenWidth / 2, cy = ScreenHeight / 2;
  const std::optional<Screen> screen = ShotWhen(*process, app, [&](const Screen& s) {
    return s.At(cx - 20, cy - 20) == Red && s.At(cx + 20, cy - 20) == Green && s.At(cx - 20, cy + 20) == Blue &&
           s.At(cx + 20, cy + 20) == Yellow;
  });
  ASSERT_TRUE(screen.has_value()) << "the picture is not centred";
  // It covers the whole screen.
  EXPECT_EQ(screen->At(0, 0), Red);
  EXPECT_EQ(screen->At(ScreenWidth - 1, ScreenHeight - 1), Yellow);
  process->Wait(std::chrono::seconds(30));
}

TEST_F(Splash, ClosesOnceTheApplicationShowsAWindow) {
  const AppFolder app = SplashApp("SplashUntilWindow = true\nSplashSeconds = 0", "splash-quadrants.png");
  auto process = StartApp(app, "sleep:1500 window:Main sleep:4000 exit:0");
  ASSERT_TRUE(ShotWhen(*process, app, ShowsQuadrants).has_value()) << "the splash never showed";
  // Gone while main still sleeps after opening its window.
  EXPECT_TRUE(ShotWhen(*process, app, [](const Screen& s) { return !ShowsQuadrants(s); }).has_value())
      << "the splash stayed until the process ended";
  const RunResult result = process->Wait(std::chrono::seconds(30));
  EXPECT_TRUE(Has(Lines(result.output), "window Main")) << result.output;
}

TEST_F(Splash, ClosesAfterItsSecondsWithoutAWindow) {
  const AppFolder app = SplashApp("SplashUntilWindow = false\nSplashSeconds = 2", "splash-quadrants.png");
  auto process = StartApp(app, "sleep:9000");
  ASSERT_TRUE(ShotWhen(*process, app, ShowsQuadrants).has_value()) << "the splash never showed";
  EXPECT_TRUE(ShotWhen(*process, app, [](const Screen& s) { return !ShowsQuadrants(s); }).has_value())
      << "the splash stayed until the process ended";
  EXPECT_TRUE(process->Running()) << "main ended before the splash closed";
  process->Wait(std::chrono::seconds(30));
}

TEST_F(Splash, NeitherSettingShowsNoSplash) {
  const AppFolder app = SplashApp("SplashUntilWindow = false\nSplashSeconds = 0", "splash-quadrants.png");
  auto process = StartApp(app, "sleep:3000 print:done");
  int shots = 0;
  // Screenshots for as long as the application runs: the picture never appears.
  EXPECT_FALSE(ShotWhen(*process, app, [&](const Screen& s) {
                 ++shots;
                 return ShowsQuadrants(s);
               }).has_value());
  EXPECT_GT(shots, 2);
  const RunResult result = process->Wait(std::chrono::seconds(30));
  EXPECT_TRUE(Has(Lines(result.output), "out done")) << result.output;
}

TEST_F(Splash, ALauncherWithoutItsPictureStillRunsTheApplication) {
  const AppFolder app = SplashApp("SplashUntilWindow = true\nSplashSeconds = 0", "splash-quadrants.png");
  ASSERT_NO_FATAL_FAILURE(RemoveBitmaps(app.folder / "app.exe"));
  RunOptions options;
  options.workDir = app.folder.string();
  const RunResult result = Session().Run(Quote(app.launcher) + " print:launched", options);
  EXPECT_TRUE(result.dialogs.empty()) << testing::PrintToString(Shown(result));
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(Has(Lines(result.output), "out launched")) << result.output;
}

}  // namespace
