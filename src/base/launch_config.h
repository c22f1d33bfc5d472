// LaunchConfig: every launch setting of this process, read once at start-up from the string table, the
// INI file and the service switches' arguments, and the message texts loaded with it. Text fields are
// malloc'd, never null once loaded (an unset text is ""), and live for the whole process.
#pragma once

#include <cstdint>

#include "base/setting_table.h"

enum StreamMode : int32_t { StreamNone = 0, StreamFile = 1, StreamCapture = 2 };

struct LaunchConfigRecord {
  char* JvmVersion;
  char* JvmPath;
  char* JvmOptions;
  char* ClassPath;
  char* JvmSearchOrder;
  bool RemoveTempArchives;
  char* InstallSwitch;
  char* UninstallSwitch;
  char* ServiceSwitch;
  char* WorkingDir;
  char* MainClass;          // slash form: com/example/Main
  char* MainClassStored;    // entry 1012 as stored (still scrambled)
  char* AppOptions;
  char* IniFile;
  bool WorkingDirBeforeJvm;
  bool KeepStartDir;
  char* ServiceName;
  char* ServiceDescription;
  char* ServiceArgs;
  char* ServiceStopArgs;
  bool ServiceStopByExit;
  bool ServiceManualStart;
  bool ServiceInteractive;
  char* ServiceDependencies;
  int32_t StdOutMode;
  int32_t StdErrMode;
  char* StdOutFile;
  char* StdErrFile;
  bool AllowMultipleInstances;
  char* SplashText;
  bool SplashUntilWindow;
  int32_t SplashSeconds;
  int32_t PriorityClass;
  bool ServiceOnly;
  char* StaticOptions;
  bool ServiceArgsFromCommandLine;
  bool SecondInstanceCall;
  char* SecondInstanceArgs;
  bool ReportNoJvm;
  char* NoJvmDocument;
  char* NoJvmCommand;
  bool StdOutFileAppend;
  bool StdErrFileAppend;
  char* ServiceRestartDelays;
  int32_t ServiceResetSeconds;
  bool ServiceNonZeroExitFails;
  bool ServiceDelayedStart;
  char* ServiceAccount;
  char* SecondInstanceMethod;
  // Not in the table:
  char* AppMutex;    // name of the single-instance mutex; the main class unless the INI file names one
  bool ShowConsole;  // only the INI file sets it
};

// Read-only for every part once the driver has applied the settings.
extern const LaunchConfigRecord& LaunchConfig;

// The record itself, for the driver while it applies the settings (and for tests that set them up);
// a text replaced here frees the old one.
LaunchConfigRecord& EditLaunchConfig();

// The loaded text of a message (1..23), "" when it is not loaded or empty. Messages hold at most one
// "%s", filled by the part that reports them.
const char* Message(int id);

// Stores the loaded text of a message; the table takes ownership of the malloc'd text.
void SetMessage(int id, char* text);

// Writes every field of LaunchConfig to the trace, one line each (texts in quotes, the main class
// in its slash form); nothing without a trace.
void TraceSettings();

// Replaces a text field of LaunchConfig with a malloc'd copy of `value`, freeing the old text.
// Answers false (field unchanged) only when memory runs out.
bool ReplaceConfigText(char** field, const char* value);
