// The contract scenarios: a text file of blocks, each "[name]" followed by "key = value" lines.
// Read by the driver (one scenario per process) and by the host test (the list of scenarios).
//
//   [name]          lower-case letters, digits and '-' (it names files of the test)
//   about = ...     what the scenario pins, for the reader
//   vm = ...        VM options, split like a command line (quotes removed)
//   class = ...     main class as the launcher passes it (default corvane/test/ScenarioApp)
//   static = ...    static options of main
//   app = ...       AppOptions, used only when `args` gives no argument
//   args = ...      the command line of the first main call
//   mode = ...      main (default), service (service properties), attached (a second native
//                   thread attaches and calls main with `second` while the first call runs; the
//                   creating thread detaches and destroys the VM as soon as its own main returns)
//                   second-start (once the first main has returned, a second native thread
//                   attaches as a daemon and calls `second-method` with `second` and a folder)
//   second = ...    the command line of the attached thread's main call, or of the second start
//   second-method = NAME   the method the second start calls
//   jar = F         the application's jar is copied to F, and the class path is the relative F
//   code-page = utf-8   the run's launcher text is UTF-8: a UTF-8 locale for HotSpot, the UTF-8
//                   code page (manifest) for the fake's driver
//   cd = F          folder F becomes current right after the VM is created, as the launcher's
//                   WorkingDir does
//   out = F MODE    System.out to file F before main, MODE append or replace (RedirectStandardStreams)
//   err = F MODE    the same for System.err
//   file-before = F: TEXT    file F holds TEXT and a line end before the run (may repeat)
//   folder-before = F        folder F exists before the run (may repeat)
//
// F is a plain name in the run's folder (the current folder of the run): lower-case letters,
// digits, '-', '_' and '.', starting with a letter or digit, no device name of Windows, so that it
// names the same file on Linux and under Wine and nothing outside the run's folder. After the run
// the test records every file that `out`, `err` and the *-before keys name.
//
// Lines starting with '#' and blank lines are skipped. In values, \xHH stands for one byte (so
// that bytes above 127 can be written in a plain ASCII file).
#pragma once

#include <string>
#include <vector>

enum class ScenarioMode { Main, Service, Attached, SecondStart };

// Where a standard stream goes for the run; an empty name leaves it where the VM put it.
struct ScenarioStreamFile {
  std::string name;
  bool append = false;
};

// A file or folder made in the run's folder before the run.
struct EntryBefore {
  std::string name;
  bool folder = false;
  std::string text;  // a file's content, without its line end
};

struct Scenario {
  std::string name;
  std::string about;
  std::string vmOptions;
  std::string mainClass = "corvane/test/ScenarioApp";
  std::string staticOptions;
  std::string appOptions;
  std::string args;
  ScenarioMode mode = ScenarioMode::Main;
  std::string secondArgs;
  std::string secondMethod;
  std::string jar;
  std::string folder;
  bool ignoreUnrecognized = false;  // the init arguments' flag; the launcher sets it false
  bool utf8 = false;
  ScenarioStreamFile out;
  ScenarioStreamFile err;
  std::vector<EntryBefore> before;
};

// The files whose state the test records after the run: out's, err's, then those made before, each
// name once, in that order.
std::vector<std::string> RecordedFiles(const Scenario& s);

// Reads and parses the scenario file at `path`. On a malformed file answers false with `error`
// naming the line and the fault.
bool ReadScenarioFile(const std::string& path, std::vector<Scenario>* scenarios, std::string* error);
