#include "ui/splash_rules.h"

uint32_t SplashLimitMilliseconds(int32_t seconds) {
  if (seconds <= 0) return 0;
  constexpr int32_t Longest = static_cast<int32_t>(LongestTimerInterval / 1000);
  return static_cast<uint32_t>(seconds < Longest ? seconds : Longest) * 1000u;
}

// Either the window rule or the timer must be able to close it: one rule for what sets a limit.
bool SplashWanted(bool untilWindow, int32_t seconds) { return untilWindow || SplashLimitMilliseconds(seconds) != 0; }
