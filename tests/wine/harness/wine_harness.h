// Runs Windows programs under Wine for the end-to-end tests and observes what a user would see: the
// dialogs they open, the exit status as Windows reports it (-1 is 4294967295) and their output.
// Each test group owns one WineSession: its own WINEPREFIX under the build tree and its own Xvfb
// display. Programs are started through cvdriver.exe, which reports their dialogs and presses their
// buttons as told. Every wait has a time-out; a program that outlives its time-out is killed and
// reported as timed out. Texts are UTF-8. What keeps the harness from observing fails the current
// test; a WineSession that cannot set up its display or prefix throws std::runtime_error.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace corvane::test {

struct Control {  // a child window of a dialog
  std::string kind;  // "static", "edit", "button", or the lower-cased class name of anything else
  int id = 0;        // control id (0xFFFF shows as 65535)
  bool visible = false;
  std::string text;
};

// A top-level dialog or message box (window class "#32770") of the driven process.
struct Dialog {
  std::string title;
  std::vector<Control> controls;  // in child-window order
  std::vector<std::string> Texts(const std::string& kind) const;  // of one kind, in order, empty ones left out
  std::string TextOf(int id) const;                              // "" when there is no such control
};

struct RunResult {
  bool timedOut = false;        // killed at its time-out (its exit code is then 258)
  uint32_t exitCode = 0;        // as GetExitCodeProcess reports it
  std::vector<Dialog> dialogs;  // in order of appearance
  std::string output;           // standard output and error
};

struct RunOptions {
  std::string workDir;  // Linux path; the program's current directory
  // Added to a clean environment that holds only PATH and HOME of the test, DISPLAY, WINEPREFIX,
  // LANG=C.UTF-8, WINEDEBUG=-all and WINEDLLOVERRIDES=mscoree,mshtml= (no JAVA_HOME of the machine).
  std::map<std::string, std::string> env;
  std::chrono::milliseconds timeout{30000};  // Run's, from the program's start to its end
  std::string press = "OK";                  // Run's button pressed on every dialog ("" presses none)
};

// A program started with WineSession::Start: its dialogs are reported but not answered until told.
// Destroy it before its WineSession; destroying it kills the program if it still runs.
class DrivenProcess {
 public:
  ~DrivenProcess();
  // The next dialog not returned yet; fails the current test (and answers an empty one) on time-out.
  Dialog WaitForDialog(std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));
  // On the dialog shown last: press the button with this text (e.g. "OK"), type "enter" or "escape",
  // or send it the system command "close" (its title-bar button, Alt+F4).
  void Press(const std::string& button);
  void Key(const std::string& name);
  void Close();
  void Screenshot(const std::string& bmpPath);  // of the whole screen, as a BMP file (Linux path)
  bool Running();
  // Waits for the program to end; dialogs open or appearing meanwhile are answered with `press`.
  // The result holds every dialog of the run, those WaitForDialog returned included.
  RunResult Wait(std::chrono::milliseconds timeout = std::chrono::milliseconds(30000), const std::string& press = "OK");

 private:
  friend class WineSession;
  struct Impl;
  explicit DrivenProcess(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

class WineSession {
 public:
  explicit WineSession(const std::string& group);  // the prefix is <wine root>/<group>
  ~WineSession();

  // A fresh, empty directory for one test, under the build tree; `name` may have parts ("Suite/Case"),
  // none of them empty, "." or ".." (std::invalid_argument).
  std::string FreshDir(const std::string& name);
  // Runs a program to its end; commandLine is the exact Windows command line for CreateProcess.
  RunResult Run(const std::string& commandLine, const RunOptions& options = {});
  // Starts a program and returns as soon as it runs; nothing is pressed until told.
  std::unique_ptr<DrivenProcess> Start(const std::string& commandLine, const RunOptions& options = {});

  // Command lines of the processes running in this prefix now (Wine's own included).
  std::vector<std::string> Processes() const;
  const std::string& Prefix() const;
  const std::string& Display() const;  // e.g. ":93"

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Z:\ form of a Linux path, as Wine's default drive mapping sees it.
std::string WindowsPath(const std::string& linuxPath);
// Encloses a word in double quotes so that the program's argv (CommandLineToArgvW, the C runtime)
// gives back exactly `word`.
std::string Quote(const std::string& word);
// Directory of the win64 build (stub, driver, launchers): CORVANE_WIN64_DIR, set by ctest.
std::string Win64BuildDir();

}  // namespace corvane::test
