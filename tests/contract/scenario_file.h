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
//                   thread attaches and calls main with `second` while the first call runs)
//   second = ...    the command line of the attached thread's main call
//   fake = ...      why the fake jvm.dll cannot agree with HotSpot here (empty: it must agree)
//
// Lines starting with '#' and blank lines are skipped. In values, \xHH stands for one byte (so
// that bytes above 127 can be written in a plain ASCII file); every other character is kept.
#pragma once

#include <string>
#include <vector>

enum class ScenarioMode { Main, Service, Attached };

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
  std::string fakeDiffers;
};

// Parses a scenario file's text. On a malformed file answers false with `error` naming the line
// and the fault, and `scenarios` empty.
bool ParseScenarios(const std::string& text, std::vector<Scenario>* scenarios, std::string* error);

// Reads and parses the file at `path`.
bool ReadScenarioFile(const std::string& path, std::vector<Scenario>* scenarios, std::string* error);
