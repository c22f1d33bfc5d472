// Runs Windows programs under Wine for the end-to-end tests and observes what a user would see:
// the dialogs and message boxes they open, the exit status as Windows reports it (full 32 bits: -1
// is 4294967295), and their console output.
//
// Each test group owns one WineSession: its own WINEPREFIX under the build tree and its own Xvfb
// display, started in the constructor and stopped in the destructor. Every program is started
// through cvdriver.exe, which creates the process, reports each of its top-level dialogs and presses
// their buttons as told. Every wait has a time-out; a program that outlives its time-out is killed
// and reported as timed out. Command lines and texts are UTF-8. What keeps the harness from
// observing fails the current test through GoogleTest; a WineSession that cannot set up its display
// or prefix throws std::runtime_error.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace corvane::test {

// A child window of a dialog.
struct Control {
  std::string kind;  // "static", "edit", "button", or the lower-cased class name of anything else
  int id = 0;        // control id (0xFFFF shows as 65535)
  bool visible = false;
  std::string text;  // exact text, line breaks included
};

// A top-level dialog or message box (window class "#32770") of the driven process.
struct Dialog {
  std::string title;
  std::vector<Control> controls;  // in child-window order
  // Texts of the controls of one kind, in order, empty texts left out.
  std::vector<std::string> Texts(const std::string& kind) const;
  // The text of the control with this id, or "" when there is none.
  std::string TextOf(int id) const;
};

struct RunResult {
  bool timedOut = false;        // killed at its time-out (its exit code is then 258)
  uint32_t exitCode = 0;        // as GetExitCodeProcess reports it
  std::vector<Dialog> dialogs;  // every dialog shown, in order of appearance
  std::string output;           // what the program wrote to its standard output and error
};

struct RunOptions {
  std::string workDir;  // Linux path; the program's current directory
  // Added to a clean environment that holds only PATH and HOME of the test, DISPLAY, WINEPREFIX,
  // LANG=C.UTF-8, WINEDEBUG=-all and WINEDLLOVERRIDES=mscoree,mshtml= (no JAVA_HOME of the machine).
  std::map<std::string, std::string> env;
  std::chrono::milliseconds timeout{30000};  // for the whole run
  std::string press = "OK";                  // button pressed on every dialog ("" presses none)
};

// A program started with WineSession::Start: its dialogs are reported but not answered until told.
// Destroy it before its WineSession; destroying it kills the program if it still runs.
class DrivenProcess {
 public:
  ~DrivenProcess();
  // The next dialog not returned yet; fails the current test (and answers an empty one) on time-out.
  Dialog WaitForDialog(std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));
  // Presses the button with this text (e.g. "OK") on the dialog shown last.
  void Press(const std::string& button);
  // Types "enter" or "escape" into the dialog shown last.
  void Key(const std::string& name);
  // Sends the dialog shown last the system command "close" (its title-bar button, Alt+F4).
  void Close();
  // Saves a screenshot of the whole screen as a BMP file (Linux path).
  void Screenshot(const std::string& bmpPath);
  bool Running();
  // Waits for the program to end; dialogs open or appearing meanwhile are answered with `press`.
  // The result holds every dialog of the run, those WaitForDialog returned included.
  RunResult Wait(std::chrono::milliseconds timeout = std::chrono::milliseconds(30000),
                 const std::string& press = "OK");

 private:
  friend class WineSession;
  struct Impl;
  explicit DrivenProcess(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

class WineSession {
 public:
  // group names the prefix (<wine root>/<group>) and the display of this test group.
  explicit WineSession(const std::string& group);
  ~WineSession();
  WineSession(const WineSession&) = delete;
  WineSession& operator=(const WineSession&) = delete;

  // A fresh, empty directory for one test (Linux path, under the build tree). `name` is relative
  // and may have parts ("Suite/Case"); an empty, "." or ".." part throws std::invalid_argument.
  std::string FreshDir(const std::string& name);

  // Runs a program to its end. commandLine is the exact Windows command line for CreateProcess.
  RunResult Run(const std::string& commandLine, const RunOptions& options = {});
  // Starts a program and returns as soon as it runs; nothing is pressed until told.
  std::unique_ptr<DrivenProcess> Start(const std::string& commandLine, const RunOptions& options = {});

  const std::string& Prefix() const;
  const std::string& Display() const;  // e.g. ":93"

 private:
  std::unique_ptr<DrivenProcess> Launch(const std::string& commandLine, const RunOptions& options,
                                        const std::string& press);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Z:\ form of a Linux path, as Wine's default drive mapping sees it.
std::string WindowsPath(const std::string& linuxPath);
// Encloses a command-line word in double quotes so that the program's argv (CommandLineToArgvW,
// the C runtime) gives back exactly `word`.
std::string Quote(const std::string& word);
// Directory of the win64 build (stub, driver, launchers): CORVANE_WIN64_DIR, set by ctest.
std::string Win64BuildDir();

}  // namespace corvane::test
