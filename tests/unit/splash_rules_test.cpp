// When the splash shows and when its timer ends it.
#include <gtest/gtest.h>

#include <climits>

#include "ui/splash_rules.h"

namespace {

struct SplashCase {
  bool untilWindow;
  int32_t seconds;
  bool shown;
  uint32_t limit;
};

class SplashRules : public testing::TestWithParam<SplashCase> {};

TEST_P(SplashRules, ShowOnlyASplashThatSomethingCloses) {
  const SplashCase& c = GetParam();
  EXPECT_EQ(SplashWanted(c.untilWindow, c.seconds), c.shown);
  EXPECT_EQ(SplashLimitMilliseconds(c.seconds), c.limit);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplashRules,
    testing::Values(SplashCase{false, 0, false, 0}, SplashCase{true, 0, true, 0}, SplashCase{false, 3, true, 3000},
                    SplashCase{true, 3, true, 3000},
                    // A negative count (only an edited launcher holds one) sets no limit, so no window
                    // rule means no splash at all.
                    SplashCase{false, -1, false, 0}, SplashCase{false, INT32_MIN, false, 0},
                    SplashCase{true, -5, true, 0},
                    // Held at the longest interval a timer takes.
                    SplashCase{false, 2147483, true, 2147483000u}, SplashCase{false, 2147484, true, 2147483000u},
                    SplashCase{false, INT32_MAX, true, 2147483000u}));

}  // namespace
