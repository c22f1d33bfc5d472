// What the launcher shows a person: the two message boxes and the modal error dialog (resource 1:
// an icon, a one-line message area, "Details:" and a read-only, scrollable details box), or for a
// console launcher the same texts on standard error.
#include <cstdlib>
#include <cstring>

#include "base/process_state_win.h"
#include "ui/report_win.h"

namespace {

constexpr int IconControl = 1000;
constexpr int MessageArea = 1001;
constexpr int DetailsBox = 1002;

// The dialog's texts travel with the dialog itself (its creation parameter, kept in DWLP_USER), so a
// second report cannot leave an open dialog pointing at another report's texts.
struct ErrorDialogTexts {
  const char* details;
  const char* message;
};

void EndErrorDialog(HWND dialog) {
  EndDialog(dialog, 0);
  ErrorDialogWindow = nullptr;
}

// The message is painted in the rectangle of the hidden message area: one line, centred vertically,
// shortened with an ellipsis that keeps the end of a path.
void PaintMessage(HWND dialog) {
  const auto* texts = reinterpret_cast<const ErrorDialogTexts*>(GetWindowLongPtrA(dialog, DWLP_USER));
  RECT area{};
  GetWindowRect(GetDlgItem(dialog, MessageArea), &area);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&area), 2);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(dialog, &paint);
  if (texts != nullptr) {
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    DrawTextA(dc, texts->message, -1, &area, DT_SINGLELINE | DT_VCENTER | DT_PATH_ELLIPSIS);
    SelectObject(dc, oldFont);
  }
  EndPaint(dialog, &paint);
}

INT_PTR CALLBACK ErrorDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto* texts = reinterpret_cast<const ErrorDialogTexts*>(lParam);
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      SendDlgItemMessageA(dialog, IconControl, STM_SETICON,
                          reinterpret_cast<WPARAM>(LoadIconA(nullptr, MAKEINTRESOURCEA(32513))), 0);
      // The area only lends its rectangle; it also keeps the message as its (hidden) text, so that
      // tools reading the dialog's controls see what is painted.
      HWND area = GetDlgItem(dialog, MessageArea);
      SetWindowTextA(area, texts->message);
      ShowWindow(area, SW_HIDE);
      SetDlgItemTextA(dialog, DetailsBox, texts->details);
      CenterWindow(dialog);
      SetForegroundWindow(dialog);
      ErrorDialogWindow = dialog;
      return TRUE;
    }
    case WM_PAINT:
      PaintMessage(dialog);
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndErrorDialog(dialog);
        return TRUE;
      }
      return FALSE;
    case WM_SYSCOMMAND:
      // The low four bits of a system command are the system's own.
      if ((wParam & 0xFFF0) == SC_CLOSE) {
        EndErrorDialog(dialog);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

// A box or dialog that cannot be shown has nowhere else to go: the report is lost, and the launcher
// goes on as it would once the user had closed it.
void ShowInfoBox(const char* text) {
  LoadCommonControls();
  MessageBoxA(nullptr, text, "Information", MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
}

void ShowErrorBox(const char* text) {
  LoadCommonControls();
  MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void RunErrorDialog(const char* details, const char* message) {
  LoadCommonControls();
  ErrorDialogTexts texts{details, message};
  HINSTANCE instance = InstanceHandle != nullptr ? InstanceHandle : GetModuleHandleA(nullptr);
  DialogBoxParamA(instance, MAKEINTRESOURCEA(1), nullptr, ErrorDialogProc, reinterpret_cast<LPARAM>(&texts));
}

void WriteConsoleReport(const char* title, const char* text) {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  // Line ends as Windows text has them: a lone "\n" becomes "\r\n".
  const size_t length = std::strlen(title) + 2 + std::strlen(text);
  char* line = static_cast<char*>(std::malloc(2 * length + 3));
  if (line == nullptr) return;
  size_t used = 0;
  for (const char* part : {title, ": ", text, "\n"}) {
    for (const char* c = part; *c != '\0'; ++c) {
      if (*c == '\n' && (used == 0 || line[used - 1] != '\r')) line[used++] = '\r';
      line[used++] = *c;
    }
  }
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(error, &mode)) {
    // A console shows its own code page, not the launcher's: hand it the characters.
    const int units = MultiByteToWideChar(CP_ACP, 0, line, static_cast<int>(used), nullptr, 0);
    auto* wide = static_cast<wchar_t*>(std::malloc(static_cast<size_t>(units > 0 ? units : 1) * sizeof(wchar_t)));
    if (wide != nullptr && units > 0 && MultiByteToWideChar(CP_ACP, 0, line, static_cast<int>(used), wide, units) == units) {
      WriteConsoleW(error, wide, static_cast<DWORD>(units), &written, nullptr);
    }
    std::free(wide);
  } else {
    WriteFile(error, line, static_cast<DWORD>(used), &written, nullptr);
  }
  std::free(line);
}

void CenterWindow(HWND window) {
  RECT bounds{};
  GetWindowRect(window, &bounds);
  const int width = bounds.right - bounds.left;
  const int height = bounds.bottom - bounds.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  MoveWindow(window, x, y, width, height, TRUE);
}
