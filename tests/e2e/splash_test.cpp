// The splash, end to end under Wine and Xvfb: screenshots taken while a launcher starts the scenario
// application show the bitmap centred on the 1280 x 1024 screen with the splash text drawn over its
// bottom band, and show it gone once the application has a window or the time is up. The tests wait
// for what the screen shows (no other signal says the splash is painted); the application sleeps far
// longer than any wait and is ended by the test.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

using namespace corvane::test;

constexpr int Width = 1280, Height = 1024;

struct Colour {
  int r, g, b;
  bool operator==(const Colour&) const = default;
};
constexpr Colour Red{200, 30, 30}, Green{30, 160, 60}, Blue{40, 60, 200}, Yellow{230, 200, 40}, White{255, 255, 255};

// A 24-bit bottom-up screenshot of the whole screen, as the driver saves it.
struct Screen {
  std::string bytes;
  Colour At(int x, int y) const {
    const size_t at = 54 + (static_cast<size_t>(Height - 1 - y) * Width + x) * 3;
    return {static_cast<unsigned char>(bytes[at + 2]), static_cast<unsigned char>(bytes[at + 1]),
            static_cast<unsigned char>(bytes[at])};
  }
  // The four quadrants of a picture centred on the screen, `dx` and `dy` from its centre.
  bool Quadrants(int dx, int dy) const {
    const int x = Width / 2, y = Height / 2;
    return At(x - dx, y - dy) == Red && At(x + dx, y - dy) == Green && At(x - dx, y + dy) == Blue &&
           At(x + dx, y + dy) == Yellow;
  }
  // The 240 x 120 picture, its top left corner at (520, 452): 90 rows of quadrants above a 30-row band.
  bool ShowsPicture() const {
    return At(580, 472) == Red && At(700, 472) == Green && At(580, 522) == Blue && At(700, 522) == Yellow;
  }
  // Pixels of the band that are dark (the drawn text) and white.
  std::pair<int, int> Band() const {
    int dark = 0, white = 0;
    for (int y = 542; y < 572; ++y) {
      for (int x = 520; x < 760; ++x) {
        const Colour c = At(x, y);
        dark += c.r + c.g + c.b < 200;
        white += c == White;
      }
    }
    return {dark, white};
  }
};

class Splash : public WineTest {
 protected:
  // Screenshots until `seen` holds for one while the process runs; that one, or nothing.
  template <typename Condition>
  static std::optional<Screen> ShotWhen(DrivenProcess& process, const fs::path& folder, Condition seen) {
    std::optional<Screen> shot;
    WaitUntil([&] {
      if (!process.Running()) return true;
      fs::remove(folder / "screen.bmp");
      process.Screenshot((folder / "screen.bmp").string());
      Screen screen{ReadAll(folder / "screen.bmp")};
      if (screen.bytes.size() != 54u + Width * 3 * Height || !seen(screen)) return false;
      shot = std::move(screen);
      return true;
    });
    return shot;
  }
};

TEST_F(Splash, ShowsTheBitmapCentredWithItsTextUntilTheApplicationShowsAWindow) {
  const AppFolder app = MakeAppFolder("png/splash-text");
  auto process = StartApp(app, "sleep:5000 window:Main sleep:60000");
  const std::optional<Screen> screen = ShotWhen(*process, app.folder, [](const Screen& s) { return s.ShowsPicture(); });
  ASSERT_TRUE(screen) << "the splash never showed";
  EXPECT_GT(screen->Band().first, 40) << "no text drawn in the band";
  EXPECT_GT(screen->Band().second, 240 * 30 / 2) << "the band is not the picture's";
  EXPECT_TRUE(ShotWhen(*process, app.folder, [](const Screen& s) { return !s.ShowsPicture(); }))
      << "the splash stayed until the process ended";
}

TEST_F(Splash, ShowsA32BitPictureWithoutTextForItsSecondsWithoutAWindow) {
  const AppFolder app = MakeAppFolder("png/splash-alpha");
  auto process = StartApp(app, "sleep:60000");
  const std::optional<Screen> screen = ShotWhen(*process, app.folder, [](const Screen& s) { return s.ShowsPicture(); });
  ASSERT_TRUE(screen) << "the splash never showed";
  EXPECT_EQ(screen->Band().first, 0) << "an empty text leaves the band as the picture has it";
  EXPECT_GT(screen->Band().second, 240 * 30 / 2);
  EXPECT_TRUE(ShotWhen(*process, app.folder, [](const Screen& s) { return !s.ShowsPicture(); }))
      << "the splash stayed until the process ended";
}

TEST_F(Splash, APictureLargerThanTheScreenIsCentredAndCoversIt) {
  const AppFolder app = MakeAppFolder("png/splash-huge");
  auto process = StartApp(app, "sleep:60000");
  const std::optional<Screen> screen =
      ShotWhen(*process, app.folder, [](const Screen& s) { return s.Quadrants(20, 20); });
  ASSERT_TRUE(screen) << "the picture is not centred";
  EXPECT_EQ(screen->At(0, 0), Red);
  EXPECT_EQ(screen->At(Width - 1, Height - 1), Yellow);
}

TEST_F(Splash, ALauncherWithoutItsPictureStillRunsTheApplication) {
  const AppFolder app = MakeAppFolder("png/splash-text");
  ASSERT_NO_FATAL_FAILURE(EditResources(app.folder / "app.exe", [](builder::ResourceTree& tree) {
    EXPECT_EQ(tree.RemoveType(builder::ResourceType::Bitmap), 1u);
  }));
  const RunResult result = RunApp(app, "print:launched");
  EXPECT_TRUE(result.dialogs.empty()) << testing::PrintToString(Shown(result));
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(Has(Lines(result.output), "out launched")) << result.output;
}

}  // namespace
