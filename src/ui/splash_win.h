// The splash window shown while the Java runtime starts.
#pragma once

#include <windows.h>

#include <atomic>

// The splash window, set by the splash thread as soon as the window exists.
extern std::atomic<HWND> SplashWindow;
// Set by the splash thread when it could not make its window, so that nobody waits for it.
extern std::atomic<bool> SplashFailed;

// Starts the splash thread; returns at once.
void StartSplashScreen();

// Returns once the splash window exists, or once it is known that it never will.
void WaitForSplashWindow();
