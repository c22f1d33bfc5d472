// The settings an INI file may touch, as plain values, for the tests of the INI override on Linux
// (key rules) and under Wine (real profile files): stored into and read back from a EditLaunchConfig().
#pragma once

#include <cstdlib>
#include <ostream>
#include <string>

#include "base/launch_config.h"
#include "base/text.h"

struct IniSettings {
  std::string JvmVersion = "17";
  std::string JvmPath = "jre\\bin\\server\\jvm.dll";
  std::string JvmOptions = "-Da=1";
  std::string AppOptions = "";
  std::string AppMutex = "org/example/Main";
  std::string StaticOptions = "--static";
  std::string StdOutFile = "logs\\stdout.log";
  std::string StdErrFile = "logs\\stderr.log";
  int32_t StdOutMode = StreamCapture;
  int32_t StdErrMode = StreamNone;
  bool StdOutFileAppend = false;
  bool StdErrFileAppend = true;
  bool ShowConsole = false;

  bool operator==(const IniSettings&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const IniSettings& s) {
  return out << "{JvmVersion=" << s.JvmVersion << " JvmPath=" << s.JvmPath << " JvmOptions=[" << s.JvmOptions
             << "] AppOptions=" << s.AppOptions << " AppMutex=" << s.AppMutex << " StaticOptions=" << s.StaticOptions
             << " StdOutFile=" << s.StdOutFile << " StdErrFile=" << s.StdErrFile << " StdOutMode=" << s.StdOutMode
             << " StdErrMode=" << s.StdErrMode << " StdOutFileAppend=" << s.StdOutFileAppend
             << " StdErrFileAppend=" << s.StdErrFileAppend << " ShowConsole=" << s.ShowConsole << "}";
}

// The text fields the settings own (malloc'd copies), for freeing them.
inline constexpr char* LaunchConfigRecord::*IniTextFields[] = {
    &LaunchConfigRecord::JvmVersion, &LaunchConfigRecord::JvmPath,    &LaunchConfigRecord::JvmOptions,
    &LaunchConfigRecord::AppOptions, &LaunchConfigRecord::AppMutex,   &LaunchConfigRecord::StaticOptions,
    &LaunchConfigRecord::StdOutFile, &LaunchConfigRecord::StdErrFile,
};

inline void StoreIniSettings(LaunchConfigRecord* c, const IniSettings& s) {
  c->JvmVersion = CopyText(s.JvmVersion.c_str());
  c->JvmPath = CopyText(s.JvmPath.c_str());
  c->JvmOptions = CopyText(s.JvmOptions.c_str());
  c->AppOptions = CopyText(s.AppOptions.c_str());
  c->AppMutex = CopyText(s.AppMutex.c_str());
  c->StaticOptions = CopyText(s.StaticOptions.c_str());
  c->StdOutFile = CopyText(s.StdOutFile.c_str());
  c->StdErrFile = CopyText(s.StdErrFile.c_str());
  c->StdOutMode = s.StdOutMode;
  c->StdErrMode = s.StdErrMode;
  c->StdOutFileAppend = s.StdOutFileAppend;
  c->StdErrFileAppend = s.StdErrFileAppend;
  c->ShowConsole = s.ShowConsole;
}

inline IniSettings ReadIniSettings(const LaunchConfigRecord& c) {
  IniSettings s;
  s.JvmVersion = c.JvmVersion;
  s.JvmPath = c.JvmPath;
  s.JvmOptions = c.JvmOptions;
  s.AppOptions = c.AppOptions;
  s.AppMutex = c.AppMutex;
  s.StaticOptions = c.StaticOptions;
  s.StdOutFile = c.StdOutFile;
  s.StdErrFile = c.StdErrFile;
  s.StdOutMode = c.StdOutMode;
  s.StdErrMode = c.StdErrMode;
  s.StdOutFileAppend = c.StdOutFileAppend;
  s.StdErrFileAppend = c.StdErrFileAppend;
  s.ShowConsole = c.ShowConsole;
  return s;
}

inline void FreeIniSettings(LaunchConfigRecord* c) {
  for (char* LaunchConfigRecord::*field : IniTextFields) {
    std::free(c->*field);
    c->*field = nullptr;
  }
}
