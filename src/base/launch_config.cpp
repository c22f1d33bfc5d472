#include "base/launch_config.h"

#include <cstdlib>

#include "base/text.h"
#include "base/trace.h"

namespace {
LaunchConfigRecord Settings;
char* MessageTexts[LastMessageId + 1];

// Every field of the record by name, for the trace (one of the three members set).
struct TracedField {
  const char* name;
  char* LaunchConfigRecord::*text;
  bool LaunchConfigRecord::*flag;
  int32_t LaunchConfigRecord::*number;
};

using R = LaunchConfigRecord;
const TracedField TracedFields[] = {
    {"JvmVersion", &R::JvmVersion, nullptr, nullptr},
    {"JvmPath", &R::JvmPath, nullptr, nullptr},
    {"JvmOptions", &R::JvmOptions, nullptr, nullptr},
    {"ClassPath", &R::ClassPath, nullptr, nullptr},
    {"JvmSearchOrder", &R::JvmSearchOrder, nullptr, nullptr},
    {"RemoveTempArchives", nullptr, &R::RemoveTempArchives, nullptr},
    {"InstallSwitch", &R::InstallSwitch, nullptr, nullptr},
    {"UninstallSwitch", &R::UninstallSwitch, nullptr, nullptr},
    {"ServiceSwitch", &R::ServiceSwitch, nullptr, nullptr},
    {"WorkingDir", &R::WorkingDir, nullptr, nullptr},
    {"MainClass", &R::MainClass, nullptr, nullptr},
    {"AppOptions", &R::AppOptions, nullptr, nullptr},
    {"IniFile", &R::IniFile, nullptr, nullptr},
    {"WorkingDirBeforeJvm", nullptr, &R::WorkingDirBeforeJvm, nullptr},
    {"KeepStartDir", nullptr, &R::KeepStartDir, nullptr},
    {"ServiceName", &R::ServiceName, nullptr, nullptr},
    {"ServiceDescription", &R::ServiceDescription, nullptr, nullptr},
    {"ServiceArgs", &R::ServiceArgs, nullptr, nullptr},
    {"ServiceStopArgs", &R::ServiceStopArgs, nullptr, nullptr},
    {"ServiceStopByExit", nullptr, &R::ServiceStopByExit, nullptr},
    {"ServiceManualStart", nullptr, &R::ServiceManualStart, nullptr},
    {"ServiceInteractive", nullptr, &R::ServiceInteractive, nullptr},
    {"ServiceDependencies", &R::ServiceDependencies, nullptr, nullptr},
    {"StdOutMode", nullptr, nullptr, &R::StdOutMode},
    {"StdErrMode", nullptr, nullptr, &R::StdErrMode},
    {"StdOutFile", &R::StdOutFile, nullptr, nullptr},
    {"StdErrFile", &R::StdErrFile, nullptr, nullptr},
    {"AllowMultipleInstances", nullptr, &R::AllowMultipleInstances, nullptr},
    {"SplashText", &R::SplashText, nullptr, nullptr},
    {"SplashUntilWindow", nullptr, &R::SplashUntilWindow, nullptr},
    {"SplashSeconds", nullptr, nullptr, &R::SplashSeconds},
    {"PriorityClass", nullptr, nullptr, &R::PriorityClass},
    {"ServiceOnly", nullptr, &R::ServiceOnly, nullptr},
    {"StaticOptions", &R::StaticOptions, nullptr, nullptr},
    {"ServiceArgsFromCommandLine", nullptr, &R::ServiceArgsFromCommandLine, nullptr},
    {"SecondInstanceCall", nullptr, &R::SecondInstanceCall, nullptr},
    {"SecondInstanceArgs", &R::SecondInstanceArgs, nullptr, nullptr},
    {"ReportNoJvm", nullptr, &R::ReportNoJvm, nullptr},
    {"NoJvmDocument", &R::NoJvmDocument, nullptr, nullptr},
    {"NoJvmCommand", &R::NoJvmCommand, nullptr, nullptr},
    {"StdOutFileAppend", nullptr, &R::StdOutFileAppend, nullptr},
    {"StdErrFileAppend", nullptr, &R::StdErrFileAppend, nullptr},
    {"ServiceRestartDelays", &R::ServiceRestartDelays, nullptr, nullptr},
    {"ServiceResetSeconds", nullptr, nullptr, &R::ServiceResetSeconds},
    {"ServiceNonZeroExitFails", nullptr, &R::ServiceNonZeroExitFails, nullptr},
    {"ServiceDelayedStart", nullptr, &R::ServiceDelayedStart, nullptr},
    {"ServiceAccount", &R::ServiceAccount, nullptr, nullptr},
    {"AppMutex", &R::AppMutex, nullptr, nullptr},
    {"ShowConsole", nullptr, &R::ShowConsole, nullptr},
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
