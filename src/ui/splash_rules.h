// When the splash is shown and for how long: the rules behind the splash thread. Portable.
#pragma once

#include <cstdint>

// The longest interval a Windows timer takes, in milliseconds (USER_TIMER_MAXIMUM).
constexpr uint32_t LongestTimerInterval = 0x7FFFFFFF;

// Whether a start shows the splash: it closes either once the application shows a window or after
// a limit. A splash that neither could close would stay for the whole run, so a count of seconds
// that sets no limit (0, or a negative count an edited launcher may hold) shows none by itself.
bool SplashWanted(bool untilWindow, int32_t seconds);

// The limit in milliseconds: 0 (none) for 0 or a negative count, never more than a timer takes.
uint32_t SplashLimitMilliseconds(int32_t seconds);
