// The splash: a borderless static control holding bitmap 1, centred on the screen, with SplashText
// drawn along its bottom edge. It lives on a thread of its own and closes when the application
// shows a window of its own (polled twice a second) or after SplashSeconds.
#include "base/handles_win.h"
#include "base/launch_config.h"
#include "ui/report_win.h"
#include "ui/splash_rules.h"
#include "ui/splash_win.h"

std::atomic<HWND> SplashWindow{nullptr};
std::atomic<bool> SplashFailed{false};

namespace {

// Set once SplashWindow exists or SplashFailed is set: the launch waits on it instead of polling, so
// the JVM starts the moment the window is there.
HANDLE SplashSettled = nullptr;

void SplashFailedToStart() {
  SplashFailed = true;
  if (SplashSettled != nullptr) SetEvent(SplashSettled);
}

constexpr UINT_PTR SplashLimitTimer = 1;
constexpr UINT_PTR SplashPollTimer = 2;
constexpr UINT SplashPollInterval = 500;
// Room below the text, in pixels.
constexpr int TextMargin = 8;

WNDPROC SavedProcedure = nullptr;
HWND ApplicationWindow = nullptr;
int VisibleWindowCount = 0;

BOOL CALLBACK CountProcessWindows(HWND window, LPARAM processId) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != static_cast<DWORD>(processId) || IsWindowVisible(window) != TRUE) return TRUE;
  ++VisibleWindowCount;
  if (window == SplashWindow.load() || window == ErrorDialogWindow.load()) return TRUE;
  ApplicationWindow = window;
  return TRUE;
}

// Hides the splash, ends its loop and hands the foreground to the application (or to the error
// dialog, which must stay in front).
void CloseSplash(HWND window, UINT_PTR timer) {
  KillTimer(window, timer);
  ShowWindow(window, SW_HIDE);
  PostMessageA(window, WM_QUIT, 0, 0);
  LockWindowUpdate(GetDesktopWindow());
  if (ApplicationWindow != nullptr) SetForegroundWindow(ApplicationWindow);
  HWND dialog = ErrorDialogWindow.load();
  if (dialog != nullptr) SetForegroundWindow(dialog);
  LockWindowUpdate(nullptr);
}

// SplashText along the bottom edge, in black or white, whichever stands out from the bitmap there.
void DrawSplashText(HWND window) {
  const char* text = LaunchConfig.SplashText;
  if (text == nullptr || text[0] == '\0') return;
  RECT area;
  GetClientRect(window, &area);
  HDC dc = GetDC(window);
  if (dc == nullptr) return;
  HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  RECT measured = area;
  DrawTextA(dc, text, -1, &measured, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  const int height = measured.bottom - measured.top;
  area.top = area.bottom - TextMargin - height;
  area.bottom -= TextMargin;
  const COLORREF under = GetPixel(dc, (area.left + area.right) / 2, (area.top + area.bottom) / 2);
  const int brightness = under == CLR_INVALID ? 255
                                               : (GetRValue(under) * 299 + GetGValue(under) * 587 +
                                                  GetBValue(under) * 114) / 1000;
  SetTextColor(dc, brightness < 128 ? RGB(255, 255, 255) : RGB(0, 0, 0));
  SetBkMode(dc, TRANSPARENT);
  DrawTextA(dc, text, -1, &area, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  SelectObject(dc, oldFont);
  ReleaseDC(window, dc);
}

LRESULT CALLBACK SplashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCHITTEST:
      // Clicks on the splash stay on it.
      return HTCLIENT;
    case WM_TIMER:
      if (wParam == SplashPollTimer) {
        VisibleWindowCount = 0;
        EnumWindows(CountProcessWindows, static_cast<LPARAM>(GetCurrentProcessId()));
        // The visible splash counts itself: two means the application (or a report) shows a window.
        if (VisibleWindowCount >= 2) CloseSplash(window, wParam);
      } else if (wParam == SplashLimitTimer) {
        CloseSplash(window, wParam);
      }
      break;
    case WM_CLOSE:
      PostQuitMessage(0);
      break;
    case WM_PAINT: {
      // The bitmap control does not draw its text; the text goes over the painted bitmap.
      const LRESULT painted = CallWindowProcA(SavedProcedure, window, message, wParam, lParam);
      DrawSplashText(window);
      return painted;
    }
    default:
      break;
  }
  return CallWindowProcA(SavedProcedure, window, message, wParam, lParam);
}

DWORD WINAPI SplashThread(void*) {
  HINSTANCE module = GetModuleHandleA(nullptr);
  LoadCommonControls();
  HWND window = CreateWindowExA(0, "STATIC", LaunchConfig.SplashText != nullptr ? LaunchConfig.SplashText : "",
                                WS_POPUP | SS_BITMAP, 0, 0, 0, 0, nullptr, nullptr, module, nullptr);
  if (window == nullptr) {
    // Nobody may wait for a splash that will never exist.
    SplashFailedToStart();
    return 0;
  }
  SavedProcedure = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SplashWindowProc));
  SplashWindow = window;
  if (SplashSettled != nullptr) SetEvent(SplashSettled);

  HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(1));
  if (bitmap != nullptr) {
    SendMessageA(window, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
    RECT frame;
    GetWindowRect(window, &frame);
    // Signed: a bitmap larger than the screen stays centred, its edges off screen.
    const int x = (GetSystemMetrics(SM_CXSCREEN) + frame.left - frame.right) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) + frame.top - frame.bottom) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
  }
  if (LaunchConfig.SplashUntilWindow) SetTimer(window, SplashPollTimer, SplashPollInterval, nullptr);
  const UINT limit = SplashLimitMilliseconds(LaunchConfig.SplashSeconds);
  if (limit != 0) SetTimer(window, SplashLimitTimer, limit, nullptr);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

}  // namespace

void StartSplashScreen() {
  SplashSettled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const UniqueThread thread(CreateThread(nullptr, 0, SplashThread, nullptr, 0, nullptr));
  if (!thread.Valid()) SplashFailedToStart();
}

void WaitForSplashWindow() {
  if (SplashSettled != nullptr) {
    WaitForSingleObject(SplashSettled, INFINITE);
    return;
  }
  while (SplashWindow.load() == nullptr && !SplashFailed) Sleep(10);
}
