// The settings an INI file may touch, as plain values, for the tests of the INI override on Linux
// (key rules) and under Wine (real profile files): stored into and read back from a EditLaunchConfig().
#pragma once

#include <cstdlib>
#include <ostream>
#include <string>
#include <utility>

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

// The text settings, in the record (malloc'd copies) and as plain values.
using IniText = std::pair<char* LaunchConfigRecord::*, std::string IniSettings::*>;
inline constexpr IniText IniTexts[] = {
    {&LaunchConfigRecord::JvmVersion, &IniSettings::JvmVersion}, {&LaunchConfigRecord::JvmPath, &IniSettings::JvmPath},
    {&LaunchConfigRecord::JvmOptions, &IniSettings::JvmOptions}, {&LaunchConfigRecord::AppOptions, &IniSettings::AppOptions},
    {&LaunchConfigRecord::AppMutex, &IniSettings::AppMutex}, {&LaunchConfigRecord::StaticOptions, &IniSettings::StaticOptions},
    {&LaunchConfigRecord::StdOutFile, &IniSettings::StdOutFile}, {&LaunchConfigRecord::StdErrFile, &IniSettings::StdErrFile}};

inline void StoreIniSettings(LaunchConfigRecord* c, const IniSettings& s) {
  for (const auto& [field, value] : IniTexts) c->*field = CopyText((s.*value).c_str());
  c->StdOutMode = s.StdOutMode, c->StdErrMode = s.StdErrMode, c->ShowConsole = s.ShowConsole;
  c->StdOutFileAppend = s.StdOutFileAppend, c->StdErrFileAppend = s.StdErrFileAppend;
}

inline IniSettings ReadIniSettings(const LaunchConfigRecord& c) {
  IniSettings s;
  for (const auto& [field, value] : IniTexts) s.*value = c.*field;
  s.StdOutMode = c.StdOutMode, s.StdErrMode = c.StdErrMode, s.ShowConsole = c.ShowConsole;
  s.StdOutFileAppend = c.StdOutFileAppend, s.StdErrFileAppend = c.StdErrFileAppend;
  return s;
}

inline void FreeIniSettings(LaunchConfigRecord* c) {
  for (const auto& [field, value] : IniTexts) std::free(c->*field), c->*field = nullptr;
}
