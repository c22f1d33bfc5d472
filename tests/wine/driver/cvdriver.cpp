// cvdriver: starts one Windows program and reports on standard output what a user would see of
// it, so that a Linux test can drive it through Wine.
//
// Input, from environment variables (removed again before the program starts, so it never sees
// them; an environment variable carries the command line unchanged, which Wine's argv would not):
//   CVDRIVER_COMMAND     the exact command line for CreateProcessW (required)
//   CVDRIVER_DIR         the program's working directory (optional)
//   CVDRIVER_PRESS       button text pressed on every dialog from the start (optional)
//   CVDRIVER_TIMEOUT_MS  time-out for the program's whole run (default 30000)
//
// Output, one record a line, UTF-8, texts escaped (\\ \n \r \t, other control bytes \xHH):
//   started <pid>
//   dialog <seq>                        a visible #32770 window of the program appeared; then
//   title <text>                        its title,
//   control <kind> <id> <0|1> <text>    one line per child window (kind: lower-cased class name,
//   end                                 0|1: visible), and the end of the block
//   pressed <seq> <id> <text>           a button of that dialog was clicked
//   output <text>                       bytes the program wrote to its standard output or error
//   ok <verb> | fail <verb> <message>   the answer to each command, in order
//   note <message>                      something that did not work but answers no command
//   timeout <ms>                        the time-out passed; the program is terminated
//   exit <code>                         the program ended (GetExitCodeProcess, unsigned); last line
//   fatal <message>                     the program could not be started, or its end not seen;
//                                       last line
//
// Commands, one a line on standard input (the text is escaped the same way):
//   press <text>        click the button with this text (& markers ignored) on the newest dialog
//   autopress <text>    click this button on every open and every later dialog ("" for none)
//   screenshot <path>   save the whole screen as a 24-bit BMP at this Windows path
//   key <name>          send the key "enter" or "escape" to the newest dialog, as the user types it
//   close               send the newest dialog the system command "close" (title bar, Alt+F4)
//   kill                terminate the program now
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

namespace {

// Exit code given to a program that the driver terminates: WAIT_TIMEOUT, as nothing but a time-out
// or the host's own give-up ends a program this way.
constexpr UINT kTerminatedExitCode = WAIT_TIMEOUT;
constexpr DWORD kPollMs = 50;
constexpr UINT kMessageTimeoutMs = 2000;

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  HANDLE Get() const { return h_; }
  HANDLE* Put() { Reset(); return &h_; }
  void Reset() { if (h_) CloseHandle(h_); h_ = nullptr; }
 private:
  HANDLE h_ = nullptr;
};

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
  std::string s(n > 0 ? n : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0);
  std::wstring w(n > 0 ? n : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), w.data(), n);
  return w;
}

std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string s = text ? Utf8(text) : std::string();
  if (text) LocalFree(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s + " (error " + std::to_string(code) + ")";
}

std::string Escape(const std::string& s) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\x";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else {
          out += (char)c;
        }
    }
  }
  return out;
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) { out += s[i]; continue; }
    char c = s[++i];
    if (c == 'n') out += '\n';
    else if (c == 'r') out += '\r';
    else if (c == 't') out += '\t';
    else if (c == 'x' && i + 2 < s.size()) {
      out += (char)std::strtoul(s.substr(i + 1, 2).c_str(), nullptr, 16);
      i += 2;
    } else out += c;
  }
  return out;
}

// Standard output is shared by the main loop and the output reader; every record is written
// whole under this lock with WriteFile, which does not buffer, so each block reaches the host at
// once and records never interleave.
CRITICAL_SECTION g_emitLock;
HANDLE g_stdout = nullptr;
bool g_emitClosed = false;  // set once "exit" is written: nothing may follow it

void EmitLocked(const std::string& record) {
  const char* p = record.data();
  size_t left = record.size();
  while (left > 0) {
    DWORD written = 0;
    if (!WriteFile(g_stdout, p, (DWORD)(left > 65536 ? 65536 : left), &written, nullptr) || written == 0) return;
    p += written;
    left -= written;
  }
}

void Emit(const std::string& record) {
  EnterCriticalSection(&g_emitLock);
  if (!g_emitClosed) EmitLocked(record);
  LeaveCriticalSection(&g_emitLock);
}

void EmitLast(const std::string& record) {
  EnterCriticalSection(&g_emitLock);
  if (!g_emitClosed) EmitLocked(record);
  g_emitClosed = true;
  LeaveCriticalSection(&g_emitLock);
}

// Reads the program's standard output and error (one pipe) and forwards each chunk as it comes.
DWORD WINAPI ForwardOutput(void* pipe) {
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(static_cast<HANDLE>(pipe), buffer, sizeof buffer, &n, nullptr) && n > 0)
    Emit("output " + Escape(std::string(buffer, n)) + "\n");
  return 0;
}

// Commands from the host, read by their own thread because a read of standard input blocks.
CRITICAL_SECTION g_commandLock;
std::deque<std::string> g_commands;

DWORD WINAPI ReadCommands(void*) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  std::string pending;
  char buffer[1024];
  DWORD n = 0;
  while (ReadFile(in, buffer, sizeof buffer, &n, nullptr) && n > 0) {
    pending.append(buffer, n);
    size_t eol;
    while ((eol = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, eol);
      pending.erase(0, eol + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      EnterCriticalSection(&g_commandLock);
      g_commands.push_back(line);
      LeaveCriticalSection(&g_commandLock);
    }
  }
  return 0;
}

bool NextCommand(std::string& line) {
  EnterCriticalSection(&g_commandLock);
  bool any = !g_commands.empty();
  if (any) {
    line = g_commands.front();
    g_commands.pop_front();
  }
  LeaveCriticalSection(&g_commandLock);
  return any;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256];
  int n = GetClassNameW(hwnd, name, 256);
  return std::wstring(name, n > 0 ? n : 0);
}

// Reads a control's text with WM_GETTEXT; a hung program gives "" instead of blocking the driver.
std::wstring TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length))
    return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied))
    return {};
  text.resize(copied <= length ? copied : length);
  return text;
}

std::wstring TitleOf(HWND hwnd) {
  int length = GetWindowTextLengthW(hwnd);
  std::wstring title(length + 1, L'\0');
  int n = GetWindowTextW(hwnd, title.data(), length + 1);
  title.resize(n > 0 ? n : 0);
  return title;
}

std::wstring WithoutMnemonics(const std::wstring& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && i + 1 < text.size()) ++i;
    else if (text[i] == L'&') continue;
    out += text[i];
  }
  return out;
}

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> ChildrenOf(HWND dialog) {
  std::vector<HWND> children;
  EnumChildWindows(dialog, CollectWindow, reinterpret_cast<LPARAM>(&children));
  return children;
}

std::string DescribeDialog(HWND dialog, int seq) {
  std::string block = "dialog " + std::to_string(seq) + "\ntitle " + Escape(Utf8(TitleOf(dialog))) + "\n";
  for (HWND child : ChildrenOf(dialog)) {
    std::wstring cls = ClassOf(child);
    CharLowerBuffW(cls.data(), (DWORD)cls.size());
    block += "control " + Escape(Utf8(cls)) + " " + std::to_string(GetDlgCtrlID(child)) + " " +
             (IsWindowVisible(child) ? "1 " : "0 ") + Escape(Utf8(TextOf(child))) + "\n";
  }
  return block + "end\n";
}

struct SeenDialog {
  HWND hwnd;
  int seq;
  bool pressed;
};

class Driver {
 public:
  Driver(HANDLE process, DWORD pid, std::wstring autopress)
      : process_(process), pid_(pid), autopress_(std::move(autopress)) {}

  // Reports every visible dialog of the program not reported before, and forgets destroyed ones
  // (Windows may give a later window the same handle value).
  void ScanDialogs() {
    std::vector<SeenDialog> alive;
    for (const SeenDialog& d : seen_)
      if (IsWindow(d.hwnd)) alive.push_back(d);
    seen_.swap(alive);

    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    for (HWND hwnd : windows) {
      DWORD owner = 0;
      GetWindowThreadProcessId(hwnd, &owner);
      if (owner != pid_ || !IsWindowVisible(hwnd) || ClassOf(hwnd) != L"#32770" || Find(hwnd)) continue;
      seen_.push_back({hwnd, ++count_, false});
      Emit(DescribeDialog(hwnd, count_));
      if (!autopress_.empty()) AutoPress(seen_.back());
    }
  }

  void Execute(const std::string& line) {
    size_t space = line.find(' ');
    std::string verb = line.substr(0, space);
    std::string arg = space == std::string::npos ? std::string() : Unescape(line.substr(space + 1));
    std::string error;
    SeenDialog* newest = nullptr;
    for (SeenDialog& d : seen_)
      if (IsWindow(d.hwnd) && (!newest || d.seq > newest->seq)) newest = &d;
    if ((verb == "press" || verb == "key" || verb == "close") && !newest) {
      error = "no dialog is open";
    } else if (verb == "press") {
      Press(*newest, Wide(arg), error);
    } else if (verb == "key") {
      SendKey(*newest, arg, error);
    } else if (verb == "close") {
      if (!PostMessageW(newest->hwnd, WM_SYSCOMMAND, SC_CLOSE, 0))
        error = "PostMessage failed: " + SystemMessage(GetLastError());
    } else if (verb == "autopress") {
      autopress_ = Wide(arg);
      if (!autopress_.empty())
        for (SeenDialog& d : seen_)
          if (!d.pressed && IsWindow(d.hwnd)) AutoPress(d);
    } else if (verb == "screenshot") {
      SaveScreen(Wide(arg), error);
    } else if (verb == "kill") {
      if (!TerminateProcess(process_, kTerminatedExitCode) && WaitForSingleObject(process_, 0) != WAIT_OBJECT_0)
        error = "TerminateProcess failed: " + SystemMessage(GetLastError());
    } else {
      error = "unknown command";
    }
    Emit(error.empty() ? "ok " + Escape(verb) + "\n" : "fail " + Escape(verb) + " " + Escape(error) + "\n");
  }

 private:
  SeenDialog* Find(HWND hwnd) {
    for (SeenDialog& d : seen_)
      if (d.hwnd == hwnd) return &d;
    return nullptr;
  }

  void AutoPress(SeenDialog& dialog) {
    std::string error;
    if (!Press(dialog, autopress_, error)) Emit("note " + Escape(error) + "\n");
  }

  // Clicks a button the way the dialog manager does when the user clicks it.
  bool Press(SeenDialog& dialog, const std::wstring& text, std::string& error) {
    std::wstring wanted = WithoutMnemonics(text);
    for (HWND child : ChildrenOf(dialog.hwnd)) {
      if (lstrcmpiW(ClassOf(child).c_str(), L"Button") != 0 || WithoutMnemonics(TextOf(child)) != wanted) continue;
      int id = GetDlgCtrlID(child);
      if (!PostMessageW(dialog.hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(child))) {
        error = "PostMessage failed: " + SystemMessage(GetLastError());
        return false;
      }
      dialog.pressed = true;
      Emit("pressed " + std::to_string(dialog.seq) + " " + std::to_string(id) + " " + Escape(Utf8(text)) + "\n");
      return true;
    }
    error = "dialog " + std::to_string(dialog.seq) + " has no button \"" + Utf8(text) + "\"";
    return false;
  }

  // A key typed into the dialog: the dialog manager's message loop turns Enter and Escape into
  // the default button and IDCANCEL.
  static void SendKey(const SeenDialog& dialog, const std::string& name, std::string& error) {
    const WPARAM key = name == "enter" ? VK_RETURN : name == "escape" ? VK_ESCAPE : 0;
    if (key == 0) {
      error = "unknown key \"" + name + "\"";
      return;
    }
    HWND target = GetDlgItem(dialog.hwnd, IDOK) != nullptr ? GetDlgItem(dialog.hwnd, IDOK) : dialog.hwnd;
    if (!PostMessageW(target, WM_KEYDOWN, key, 1) || !PostMessageW(target, WM_KEYUP, key, 0xC0000001))
      error = "PostMessage failed: " + SystemMessage(GetLastError());
  }

  static bool SaveScreen(const std::wstring& path, std::string& error) {
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    if (width <= 0 || height <= 0) { error = "no screen size"; return false; }
    const DWORD stride = ((DWORD)width * 3 + 3) & ~3u;
    std::vector<BYTE> pixels((size_t)stride * height);
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;  // positive: rows bottom-up, as BMP files store them
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = (DWORD)pixels.size();

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    bool copied = false;
    if (screen && memory && bitmap) {
      HGDIOBJ old = SelectObject(memory, bitmap);
      copied = BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY) != 0;
      SelectObject(memory, old);  // GetDIBits wants the bitmap out of every DC
      copied = copied && GetDIBits(memory, bitmap, 0, height, pixels.data(),
                                   reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) == height;
    }
    if (!copied) error = "capturing the screen failed: " + SystemMessage(GetLastError());
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    if (screen) ReleaseDC(nullptr, screen);
    if (!copied) return false;

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + (DWORD)pixels.size();
    UniqueHandle out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.Get()) {
      error = "cannot create " + Utf8(path) + ": " + SystemMessage(GetLastError());
      return false;
    }
    const std::pair<const void*, DWORD> parts[] = {
        {&file, sizeof file}, {&info, sizeof info}, {pixels.data(), (DWORD)pixels.size()}};
    for (const auto& [data, size] : parts) {
      DWORD written = 0;
      if (!WriteFile(out.Get(), data, size, &written, nullptr) || written != size) {
        error = "cannot write " + Utf8(path) + ": " + SystemMessage(GetLastError());
        out.Reset();
        DeleteFileW(path.c_str());
        return false;
      }
    }
    return true;
  }

  HANDLE process_;
  DWORD pid_;
  std::wstring autopress_;
  std::vector<SeenDialog> seen_;
  int count_ = 0;
};

// Reads and removes one of our variables, so that the program starts without it. False when unset.
bool TakeVariable(const wchar_t* name, std::wstring& value) {
  value.clear();
  DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return false;
  value.assign(size, L'\0');
  DWORD n = GetEnvironmentVariableW(name, value.data(), size);
  value.resize(n < size ? n : 0);
  SetEnvironmentVariableW(name, nullptr);
  return true;
}

int Fail(const std::string& message) {
  EmitLast("fatal " + Escape(message) + "\n");
  return 2;
}

}  // namespace

int main() {
  InitializeCriticalSection(&g_emitLock);
  InitializeCriticalSection(&g_commandLock);
  g_stdout = GetStdHandle(STD_OUTPUT_HANDLE);
  // Our own standard handles must not reach the program: it would keep the host's pipes open.
  for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
    SetHandleInformation(GetStdHandle(which), HANDLE_FLAG_INHERIT, 0);

  std::wstring command, dir, press, timeoutText;
  if (!TakeVariable(L"CVDRIVER_COMMAND", command) || command.empty()) return Fail("CVDRIVER_COMMAND is not set");
  TakeVariable(L"CVDRIVER_DIR", dir);
  TakeVariable(L"CVDRIVER_PRESS", press);
  TakeVariable(L"CVDRIVER_TIMEOUT_MS", timeoutText);
  DWORD timeoutMs = 30000;
  if (!timeoutText.empty()) {
    wchar_t* end = nullptr;
    unsigned long value = wcstoul(timeoutText.c_str(), &end, 10);
    if (*end != L'\0' || value == 0 || value > 24ul * 3600 * 1000)
      return Fail("CVDRIVER_TIMEOUT_MS is not a time-out in milliseconds: " + Utf8(timeoutText));
    timeoutMs = value;
  }

  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  UniqueHandle outputRead, outputWrite;
  if (!CreatePipe(outputRead.Put(), outputWrite.Put(), &inheritable, 0))
    return Fail("CreatePipe failed: " + SystemMessage(GetLastError()));
  SetHandleInformation(outputRead.Get(), HANDLE_FLAG_INHERIT, 0);
  UniqueHandle nul(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                               OPEN_EXISTING, 0, nullptr));

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul.Get();
  startup.hStdOutput = outputWrite.Get();
  startup.hStdError = outputWrite.Get();
  PROCESS_INFORMATION started = {};
  // Wine answers ERROR_INTERNAL_ERROR when the new process died while Wine was still setting it
  // up, before the program's own code ran; that is Wine's failure, not the program's, so it is
  // tried again (and said).
  for (int attempt = 1;; ++attempt) {
    std::vector<wchar_t> commandLine(command.begin(), command.end());
    commandLine.push_back(L'\0');  // CreateProcessW may write into the command line
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       dir.empty() ? nullptr : dir.c_str(), &startup, &started))
      break;
    const DWORD error = GetLastError();
    std::string message = "CreateProcess failed for " + Utf8(command) + ": " + SystemMessage(error);
    if (error == ERROR_INTERNAL_ERROR && attempt < 3) {
      Emit("note " + Escape(message + "; trying again") + "\n");
      continue;
    }
    // A process that died while starting may have said why (Wine's loader writes to its stderr).
    outputWrite.Reset();
    char said[2048];
    DWORD available = 0, n = 0;
    if (PeekNamedPipe(outputRead.Get(), nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
        ReadFile(outputRead.Get(), said, sizeof said, &n, nullptr) && n > 0)
      message += "; it wrote: " + std::string(said, n);
    return Fail(message);
  }
  UniqueHandle process(started.hProcess), thread(started.hThread);
  // Only the program holds the write end now, so the reader sees the end of its output.
  outputWrite.Reset();
  nul.Reset();
  Emit("started " + std::to_string(started.dwProcessId) + "\n");

  UniqueHandle forwarder(CreateThread(nullptr, 0, ForwardOutput, outputRead.Get(), 0, nullptr));
  UniqueHandle commands(CreateThread(nullptr, 0, ReadCommands, nullptr, 0, nullptr));

  Driver driver(process.Get(), started.dwProcessId, press);
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    std::string line;
    while (NextCommand(line)) driver.Execute(line);
    driver.ScanDialogs();
    if (WaitForSingleObject(process.Get(), kPollMs) == WAIT_OBJECT_0) break;
    if (GetTickCount64() >= deadline) {
      Emit("timeout " + std::to_string(timeoutMs) + "\n");
      TerminateProcess(process.Get(), kTerminatedExitCode);
      if (WaitForSingleObject(process.Get(), 10000) != WAIT_OBJECT_0)
        return Fail("the program still runs after TerminateProcess");
      break;
    }
  }
  // A process the program started may still hold the output pipe: wait for the rest only briefly.
  if (forwarder.Get()) WaitForSingleObject(forwarder.Get(), 2000);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.Get(), &code))
    return Fail("GetExitCodeProcess failed: " + SystemMessage(GetLastError()));
  EmitLast("exit " + std::to_string(code) + "\n");
  // The reader threads may still block in ReadFile; ExitProcess ends them.
  ExitProcess(0);
}
