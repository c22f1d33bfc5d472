// The splash under Wine and Xvfb: screenshots taken while a launcher starts the scenario application
// show the picture centred on the 1280 x 1024 screen, the splash text over its bottom band, and the
// splash gone once the application has a window or its seconds are up. No other signal says what
// the screen shows, so the test waits for it; the application sleeps far longer than any wait.
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
  // The quadrants of a picture centred on the screen: x and y from the centre to the points looked
  // at, above (dy1) and below (dy2) the centre. The 240 x 120 pictures have 90 rows of quadrants
  // above a 30-row band, so their middle line is 15 rows above the screen's.
  bool Quadrants(int dx, int dy1, int dy2) const {
    const int x = Width / 2, y = Height / 2;
    return At(x - dx, y - dy1) == Red && At(x + dx, y - dy1) == Green && At(x - dx, y + dy2) == Blue &&
           At(x + dx, y + dy2) == Yellow;
  }
  // Pixels of the small pictures' band that are dark (the drawn text) and white.
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

using Splash = WineTest;

TEST_F(Splash, ShowsThePictureCentredWithItsTextUntilAWindowOrItsSecondsAndIsNotNeededToRun) {
  struct Case {
    const char* scenario;
    const char* arguments;
    int dx, dy1, dy2;  // where the quadrants are looked for
    bool text, goes;   // a text drawn in the band; the splash goes while the application runs
  };
  const Case cases[] = {{"png/splash-text", "sleep:5000 window:Main sleep:60000", 60, 40, 10, true, true},
                        {"png/splash-alpha", "sleep:60000", 60, 40, 10, false, true},  // 32-bit, no text, 5 s
                        {"png/splash-huge", "sleep:60000", 20, 20, 20, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    const AppFolder app = MakeAppFolder(c.scenario, "", std::string(c.scenario).substr(4));
    auto process = StartApp(app, c.arguments);
    // Screenshots while the process runs until `seen` holds for one: that one, or nothing.
    auto shotWhen = [&](auto seen) {
      std::optional<Screen> shot;
      WaitUntil([&] {
        if (!process->Running()) return true;
        fs::remove(app.folder / "screen.bmp");
        process->Screenshot((app.folder / "screen.bmp").string());
        Screen screen{ReadAll(app.folder / "screen.bmp")};
        if (screen.bytes.size() != 54u + Width * 3 * Height || !seen(screen)) return false;
        shot = std::move(screen);
        return true;
      });
      return shot;
    };
    auto shows = [&](const Screen& s) { return s.Quadrants(c.dx, c.dy1, c.dy2); };
    const std::optional<Screen> screen = shotWhen(shows);
    ASSERT_TRUE(screen) << "the splash never showed centred";
    if (c.goes) {
      EXPECT_TRUE(c.text ? screen->Band().first > 40 : screen->Band().first == 0) << screen->Band().first;
      EXPECT_GT(screen->Band().second, 240 * 30 / 2) << "the band is not the picture's";
      EXPECT_TRUE(shotWhen([&](const Screen& s) { return !shows(s); })) << "the splash stayed until the process ended";
    }
  }
  // A launcher whose picture is gone still runs the application.
  const AppFolder app = MakeAppFolder("png/splash-text", "", "no-picture");
  ASSERT_NO_FATAL_FAILURE(EditResources(app.folder / "app.exe", [](builder::ResourceTree& tree) {
    EXPECT_EQ(tree.RemoveType(builder::ResourceType::Bitmap), 1u);
  }));
  const RunResult result = RunApp(app, "print:launched");
  EXPECT_TRUE(result.dialogs.empty() && result.exitCode == 0u) << testing::PrintToString(Shown(result));
  EXPECT_TRUE(Has(Lines(result.output), "out launched")) << result.output;
}

}  // namespace
