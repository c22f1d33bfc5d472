// cvdriver: starts one Windows program and reports on standard output what a user would see of it,
// so that a Linux test can drive it through Wine.
// Input (environment variables, removed before the program starts; they carry the command line
// unchanged, which Wine's argv would not): CVDRIVER_COMMAND, the exact command line (required);
// CVDRIVER_DIR, its working folder. Time-outs are the host's: it ends a program with kill.
// Output, one record a line, UTF-8, texts escaped (\\ and \xHH for control bytes):
//   started <pid>
//   dialog <seq>, title <text>, control <kind> <id> <0|1 visible> <text> (one per child), end
//   pressed <seq> <id> <text> | output <text> | note <message>
//   ok <verb> | fail <verb> <message>   the answer to each command, in order
//   exit <code> | fatal <message>       the program's end (unsigned), or why it could not be started
//                                       or watched; always the last line
// Commands, one a line on standard input: press <text> (on the newest dialog; & markers ignored),
// autopress <text> (every open and later dialog; "" for none), key enter|escape, close (the system
// command, as the title bar's button), screenshot <Windows path> (24-bit BMP), kill.
#include <windows.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "line_escapes.h"

namespace {

constexpr UINT kTerminatedExitCode = WAIT_TIMEOUT;  // only the host's kill ends a program so
constexpr DWORD kScanMs = 50;  // Wine signals no new window to another process: dialogs are looked for this often

std::string Utf8(const std::wstring& w) {
  std::string s(w.size() * 3, '\0');
  s.resize(WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), s.data(), (int)s.size(), nullptr, nullptr));
  return s;
}
std::wstring Wide(const std::string& s) {
  std::wstring w(s.size(), L'\0');
  w.resize(MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), w.data(), (int)w.size()));
  return w;
}
std::string ErrorText(const char* what) { return std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")"; }
// Standard output is shared by the main loop and the output forwarder: each record is written whole
// under this lock, unbuffered, so it reaches the host at once and records never interleave.
std::mutex g_emitLock;
bool g_emitClosed = false;  // the last line is written: nothing may follow it

void Emit(const std::string& record, bool last = false) {
  std::lock_guard<std::mutex> hold(g_emitLock);
  DWORD written = 0;
  for (size_t done = 0; !g_emitClosed && done < record.size(); done += written)
    if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), record.data() + done, (DWORD)(record.size() - done), &written, nullptr) || !written) break;
  g_emitClosed = g_emitClosed || last;
}
DWORD WINAPI ForwardOutput(void* pipe) {
  char buffer[4096];
  for (DWORD n = 0; ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0;) Emit("output " + Escape(std::string(buffer, n)) + "\n");
  return 0;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256];
  return std::wstring(name, std::max(GetClassNameW(hwnd, name, 256), 0));
}

// WM_GETTEXT with a time-out: a hung program gives "" instead of blocking the driver.
std::wstring TextOf(HWND hwnd) {
  DWORD_PTR length = 0, copied = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) return {};
  std::wstring text(length + 1, L'\0');
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, length + 1, (LPARAM)text.data(), SMTO_ABORTIFHUNG, 2000, &copied))
    return {};
  text.resize(copied <= length ? copied : length);
  return text;
}
std::wstring WithoutMnemonics(const std::wstring& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] != L'&' || (i + 1 < text.size() && text[++i])) out += text[i];
  return out;
}
BOOL CALLBACK Collect(HWND hwnd, LPARAM list) { return reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd), TRUE; }

std::vector<HWND> ChildrenOf(HWND dialog) {
  std::vector<HWND> children;
  EnumChildWindows(dialog, Collect, (LPARAM)&children);
  return children;
}
std::string Describe(HWND dialog, int seq) {
  std::string block = "dialog " + std::to_string(seq) + "\ntitle " + Escape(Utf8(TextOf(dialog))) + "\n";
  for (HWND child : ChildrenOf(dialog)) {
    std::wstring cls = ClassOf(child);
    CharLowerBuffW(cls.data(), (DWORD)cls.size());
    block += "control " + Escape(Utf8(cls)) + " " + std::to_string(GetDlgCtrlID(child)) +
             (IsWindowVisible(child) ? " 1 " : " 0 ") + Escape(Utf8(TextOf(child))) + "\n";
  }
  return block + "end\n";
}
bool SaveScreen(const std::wstring& path, std::string& error) {
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  std::vector<BYTE> pixels((size_t)(((DWORD)width * 3 + 3) & ~3u) * (height > 0 ? height : 0));  // rows of whole words
  BITMAPINFOHEADER info = {sizeof info, width, height, 1, 24, BI_RGB, (DWORD)pixels.size()};  // rows bottom-up
  HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  bool ok = width > 0 && height > 0 && BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  SelectObject(memory, old);  // GetDIBits wants the bitmap out of every DC
  ok = ok && GetDIBits(memory, bitmap, 0, height, pixels.data(), (BITMAPINFO*)&info, DIB_RGB_COLORS) == height;
  DeleteObject(bitmap), DeleteDC(memory), ReleaseDC(nullptr, screen);
  if (!ok) return error = ErrorText("capturing the screen"), false;
  BITMAPFILEHEADER file = {0x4D42, 0, 0, 0, sizeof file + sizeof info};  // "BM"
  file.bfSize = file.bfOffBits + (DWORD)pixels.size();
  HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  ok = WriteFile(out, &file, sizeof file, &written, nullptr) && WriteFile(out, &info, sizeof info, &written, nullptr) &&
       WriteFile(out, pixels.data(), (DWORD)pixels.size(), &written, nullptr) && written == pixels.size();
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  return ok || (error = ErrorText("writing the screenshot"), DeleteFileW(path.c_str()), false);
}

struct Seen {
  HWND hwnd;
  int seq;
  bool pressed;
};

// Commands run on the thread that reads them (a read of standard input blocks) while the main loop
// scans for dialogs: each holds the driver's lock.
class Driver {
 public:
  Driver(HANDLE process, DWORD pid) : process_(process), pid_(pid) {}

  // Reports each visible dialog of the program not reported before; forgets destroyed ones (a later
  // window may get the same handle value).
  void Scan() {
    std::lock_guard<std::mutex> hold(lock_);
    std::erase_if(seen_, [](const Seen& d) { return !IsWindow(d.hwnd); });
    std::vector<HWND> windows;
    EnumWindows(Collect, (LPARAM)&windows);
    for (HWND hwnd : windows) {
      DWORD owner = 0;
      GetWindowThreadProcessId(hwnd, &owner);
      if (owner != pid_ || !IsWindowVisible(hwnd) || ClassOf(hwnd) != L"#32770" ||
          std::any_of(seen_.begin(), seen_.end(), [hwnd](const Seen& d) { return d.hwnd == hwnd; }))
        continue;
      seen_.push_back({hwnd, ++count_, false});
      Emit(Describe(hwnd, count_));
      AutoPress(seen_.back());
    }
  }
  void Execute(const std::string& line) {
    std::lock_guard<std::mutex> hold(lock_);
    const size_t space = line.find(' ');
    const std::string verb = line.substr(0, space), arg = space == std::string::npos ? "" : Unescape(line.substr(space + 1));
    std::string error;
    const auto newest = std::find_if(seen_.rbegin(), seen_.rend(), [](const Seen& d) { return IsWindow(d.hwnd); });
    if ((verb == "press" || verb == "key" || verb == "close") && newest == seen_.rend()) {
      error = "no dialog is open";
    } else if (verb == "press") {
      Press(*newest, Wide(arg), error);
    } else if (verb == "key") {
      // The dialog manager turns Enter and Escape into the default button and IDCANCEL.
      const WPARAM key = arg == "enter" ? VK_RETURN : arg == "escape" ? VK_ESCAPE : 0;
      HWND target = GetDlgItem(newest->hwnd, IDOK) ? GetDlgItem(newest->hwnd, IDOK) : newest->hwnd;
      if (key == 0) error = "unknown key \"" + arg + "\"";
      else if (!PostMessageW(target, WM_KEYDOWN, key, 1) || !PostMessageW(target, WM_KEYUP, key, 0xC0000001))
        error = ErrorText("PostMessage");
    } else if (verb == "close") {
      if (!PostMessageW(newest->hwnd, WM_SYSCOMMAND, SC_CLOSE, 0)) error = ErrorText("PostMessage");
    } else if (verb == "autopress") {
      autopress_ = Wide(arg);
      for (Seen& d : seen_)
        if (!d.pressed && IsWindow(d.hwnd)) AutoPress(d);
    } else if (verb == "screenshot") {
      SaveScreen(Wide(arg), error);
    } else if (verb == "kill") {
      if (!TerminateProcess(process_, kTerminatedExitCode) && WaitForSingleObject(process_, 0) != WAIT_OBJECT_0)
        error = ErrorText("TerminateProcess");
    } else {
      error = "unknown command";
    }
    Emit(error.empty() ? "ok " + Escape(verb) + "\n" : "fail " + Escape(verb) + " " + Escape(error) + "\n");
  }

 private:
  void AutoPress(Seen& dialog) {
    std::string error;
    if (!autopress_.empty() && !Press(dialog, autopress_, error)) Emit("note " + Escape(error) + "\n");
  }

  // Clicks a button the way the dialog manager does when the user clicks it.
  bool Press(Seen& dialog, const std::wstring& text, std::string& error) {
    for (HWND child : ChildrenOf(dialog.hwnd)) {
      if (lstrcmpiW(ClassOf(child).c_str(), L"Button") != 0 || WithoutMnemonics(TextOf(child)) != WithoutMnemonics(text))
        continue;
      const int id = GetDlgCtrlID(child);
      if (!PostMessageW(dialog.hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)child)) return error = ErrorText("PostMessage"), false;
      dialog.pressed = true;
      Emit("pressed " + std::to_string(dialog.seq) + " " + std::to_string(id) + " " + Escape(Utf8(text)) + "\n");
      return true;
    }
    error = "dialog " + std::to_string(dialog.seq) + " has no button \"" + Utf8(text) + "\"";
    return false;
  }
  std::mutex lock_;
  HANDLE process_;
  DWORD pid_;
  std::wstring autopress_;
  std::vector<Seen> seen_;
  int count_ = 0;
};

DWORD WINAPI ReadCommands(void* driver) {
  std::string pending;
  char buffer[1024];
  DWORD n = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &n, nullptr) && n > 0) {
    pending.append(buffer, n);
    for (size_t eol; (eol = pending.find('\n')) != std::string::npos; pending.erase(0, eol + 1))
      static_cast<Driver*>(driver)->Execute(pending.substr(0, eol));
  }
  return 0;
}

// Reads and removes one of our variables, so that the program starts without it.
std::wstring TakeVariable(const wchar_t* name) {
  std::wstring value(32768, L'\0');
  const DWORD n = GetEnvironmentVariableW(name, value.data(), (DWORD)value.size());
  value.resize(n < value.size() ? n : 0);
  return SetEnvironmentVariableW(name, nullptr), value;
}
int Fatal(const std::string& message) { return Emit("fatal " + Escape(message) + "\n", true), 2; }

}  // namespace

int main() {
  // Our standard handles must not reach the program: it would hold the host's pipes open.
  for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
    SetHandleInformation(GetStdHandle(which), HANDLE_FLAG_INHERIT, 0);
  const std::wstring command = TakeVariable(L"CVDRIVER_COMMAND"), dir = TakeVariable(L"CVDRIVER_DIR");
  if (command.empty()) return Fatal("CVDRIVER_COMMAND is not set");
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE outputRead, outputWrite;
  if (!CreatePipe(&outputRead, &outputWrite, &inheritable, 0)) return Fatal(ErrorText("CreatePipe"));
  SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup = {sizeof startup};
  startup.dwFlags = STARTF_USESTDHANDLES, startup.hStdInput = nul, startup.hStdOutput = startup.hStdError = outputWrite;
  PROCESS_INFORMATION started = {};
  // Wine answers ERROR_INTERNAL_ERROR when the new process died while Wine still set it up, before
  // the program's own code ran: Wine's failure, tried again (and said).
  for (int attempt = 1;; ++attempt) {
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');  // CreateProcessW may write into it
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, dir.empty() ? nullptr : dir.c_str(),
                       &startup, &started))
      break;
    const DWORD error = GetLastError();
    const std::string message = "CreateProcess of " + Utf8(command) + ": " + ErrorText("it");
    if (error != ERROR_INTERNAL_ERROR || attempt == 3) return Fatal(message);
    Emit("note " + Escape(message + "; trying again") + "\n");
  }
  CloseHandle(outputWrite), CloseHandle(nul);  // only the program holds it now: the forwarder sees the output's end
  Emit("started " + std::to_string(started.dwProcessId) + "\n");
  HANDLE forwarder = CreateThread(nullptr, 0, ForwardOutput, outputRead, 0, nullptr);
  Driver driver(started.hProcess, started.dwProcessId);
  CreateThread(nullptr, 0, ReadCommands, &driver, 0, nullptr);
  do {
    driver.Scan();
  } while (WaitForSingleObject(started.hProcess, kScanMs) != WAIT_OBJECT_0);
  // A process the program started may still hold the output pipe: wait for the rest only briefly.
  if (forwarder) WaitForSingleObject(forwarder, 2000);
  DWORD code = 0;
  if (!GetExitCodeProcess(started.hProcess, &code)) return Fatal(ErrorText("GetExitCodeProcess"));
  Emit("exit " + std::to_string(code) + "\n", true);
  ExitProcess(0);  // ends the reader threads that still block in ReadFile
}
