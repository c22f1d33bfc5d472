#include "base/launch_config.h"

#include <cstdlib>

#include "base/text.h"
#include "base/trace.h"

namespace {
LaunchConfigRecord Settings;
char* MessageTexts[LastMessageId + 1];

// Every field of the record by name, for the trace: one of the three members is set.
struct TracedField {
  constexpr TracedField(const char* n, char* LaunchConfigRecord::*t) : name(n), text(t) {}
  constexpr TracedField(const char* n, bool LaunchConfigRecord::*f) : name(n), flag(f) {}
  constexpr TracedField(const char* n, int32_t LaunchConfigRecord::*v) : name(n), number(v) {}
  const char* name;
  char* LaunchConfigRecord::*text = nullptr;
  bool LaunchConfigRecord::*flag = nullptr;
  int32_t LaunchConfigRecord::*number = nullptr;
};

using R = LaunchConfigRecord;
constexpr TracedField TracedFields[] = {
    {"JvmVersion", &R::JvmVersion},
    {"JvmPath", &R::JvmPath},
    {"JvmOptions", &R::JvmOptions},
    {"ClassPath", &R::ClassPath},
    {"JvmSearchOrder", &R::JvmSearchOrder},
    {"RemoveTempArchives", &R::RemoveTempArchives},
    {"InstallSwitch", &R::InstallSwitch},
    {"UninstallSwitch", &R::UninstallSwitch},
    {"ServiceSwitch", &R::ServiceSwitch},
    {"WorkingDir", &R::WorkingDir},
    {"MainClass", &R::MainClass},
    {"AppOptions", &R::AppOptions},
    {"IniFile", &R::IniFile},
    {"WorkingDirBeforeJvm", &R::WorkingDirBeforeJvm},
    {"KeepStartDir", &R::KeepStartDir},
    {"ServiceName", &R::ServiceName},
    {"ServiceDescription", &R::ServiceDescription},
    {"ServiceArgs", &R::ServiceArgs},
    {"ServiceStopArgs", &R::ServiceStopArgs},
    {"ServiceStopByExit", &R::ServiceStopByExit},
    {"ServiceManualStart", &R::ServiceManualStart},
    {"ServiceInteractive", &R::ServiceInteractive},
    {"ServiceDependencies", &R::ServiceDependencies},
    {"StdOutMode", &R::StdOutMode},
    {"StdErrMode", &R::StdErrMode},
    {"StdOutFile", &R::StdOutFile},
    {"StdErrFile", &R::StdErrFile},
    {"AllowMultipleInstances", &R::AllowMultipleInstances},
    {"SplashText", &R::SplashText},
    {"SplashUntilWindow", &R::SplashUntilWindow},
    {"SplashSeconds", &R::SplashSeconds},
    {"PriorityClass", &R::PriorityClass},
    {"ServiceOnly", &R::ServiceOnly},
    {"StaticOptions", &R::StaticOptions},
    {"ServiceArgsFromCommandLine", &R::ServiceArgsFromCommandLine},
    {"SecondInstanceCall", &R::SecondInstanceCall},
    {"SecondInstanceArgs", &R::SecondInstanceArgs},
    {"ReportNoJvm", &R::ReportNoJvm},
    {"NoJvmDocument", &R::NoJvmDocument},
    {"NoJvmCommand", &R::NoJvmCommand},
    {"StdOutFileAppend", &R::StdOutFileAppend},
    {"StdErrFileAppend", &R::StdErrFileAppend},
    {"ServiceRestartDelays", &R::ServiceRestartDelays},
    {"ServiceResetSeconds", &R::ServiceResetSeconds},
    {"ServiceNonZeroExitFails", &R::ServiceNonZeroExitFails},
    {"ServiceDelayedStart", &R::ServiceDelayedStart},
    {"ServiceAccount", &R::ServiceAccount},
    {"SecondInstanceMethod", &R::SecondInstanceMethod},
    {"AppMutex", &R::AppMutex},
    {"ShowConsole", &R::ShowConsole},
};

}  // namespace

const LaunchConfigRecord& LaunchConfig = Settings;

LaunchConfigRecord& EditLaunchConfig() { return Settings; }

const char* Message(int id) {
  if (id < FirstMessageId || id > LastMessageId || MessageTexts[id] == nullptr) return "";
  return MessageTexts[id];
}

void SetMessage(int id, char* text) {
  if (id < FirstMessageId || id > LastMessageId) {
    std::free(text);
    return;
  }
  std::free(MessageTexts[id]);
  MessageTexts[id] = text;
}

bool ReplaceConfigText(char** field, const char* value) {
  char* copy = CopyText(value);
  if (copy == nullptr) return false;
  std::free(*field);
  *field = copy;
  return true;
}

void TraceSettings() {
  if (!Tracing()) return;
  for (const TracedField& field : TracedFields) {
    if (field.text != nullptr) {
      Trace({"setting ", field.name, " = \"", Settings.*field.text, "\""});
    } else if (field.flag != nullptr) {
      Trace({"setting ", field.name, " = ", YesNo(Settings.*field.flag)});
    } else {
      Trace({"setting ", field.name, " = ", DecimalText(Settings.*field.number).text});
    }
  }
}
