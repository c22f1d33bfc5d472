#include "base/setting_table.h"

#include <cstring>

const SettingInfo SettingTable[] = {
    {IdJvmVersion, "JvmVersion", SettingType::Text},
    {IdJvmPath, "JvmPath", SettingType::Text},
    {IdJvmOptions, "JvmOptions", SettingType::Text},
    {IdClassPath, "ClassPath", SettingType::Text},
    {IdJvmSearchOrder, "JvmSearchOrder", SettingType::Text},
    {IdRemoveTempArchives, "RemoveTempArchives", SettingType::Flag},
    {IdTempDirMode, "TempDirMode", SettingType::Number},
    {IdInstallSwitch, "InstallSwitch", SettingType::Text},
    {IdUninstallSwitch, "UninstallSwitch", SettingType::Text},
    {IdServiceSwitch, "ServiceSwitch", SettingType::Text},
    {IdWorkingDir, "WorkingDir", SettingType::Text},
    {IdMainClass, "MainClass", SettingType::Scrambled},
    {IdAppOptions, "AppOptions", SettingType::Text},
    {IdIniFile, "IniFile", SettingType::Text},
    {IdWorkingDirBeforeJvm, "WorkingDirBeforeJvm", SettingType::Flag},
    {IdKeepStartDir, "KeepStartDir", SettingType::Flag},
    {IdServiceName, "ServiceName", SettingType::Text},
    {IdServiceDescription, "ServiceDescription", SettingType::Text},
    {IdServiceArgs, "ServiceArgs", SettingType::Text},
    {IdServiceStopArgs, "ServiceStopArgs", SettingType::Text},
    {IdServiceStopByExit, "ServiceStopByExit", SettingType::Flag},
    {IdServiceManualStart, "ServiceManualStart", SettingType::Flag},
    {IdServiceInteractive, "ServiceInteractive", SettingType::Flag},
    {IdServiceDependencies, "ServiceDependencies", SettingType::Text},
    {IdStdOutMode, "StdOutMode", SettingType::Number},
    {IdStdErrMode, "StdErrMode", SettingType::Number},
    {IdStdOutFile, "StdOutFile", SettingType::Text},
    {IdStdErrFile, "StdErrFile", SettingType::Text},
    {IdAllowMultipleInstances, "AllowMultipleInstances", SettingType::Flag},
    {IdSplashText, "SplashText", SettingType::Message},
    {IdSplashUntilWindow, "SplashUntilWindow", SettingType::Flag},
    {IdSplashSeconds, "SplashSeconds", SettingType::Number},
    {IdPriorityClass, "PriorityClass", SettingType::Number},
    {IdServiceOnly, "ServiceOnly", SettingType::Flag},
    {IdStaticOptions, "StaticOptions", SettingType::Text},
    {IdServiceArgsFromCommandLine, "ServiceArgsFromCommandLine", SettingType::Flag},
    {IdSecondInstanceCall, "SecondInstanceCall", SettingType::Flag},
    {IdSecondInstanceArgs, "SecondInstanceArgs", SettingType::Text},
    {IdReportNoJvm, "ReportNoJvm", SettingType::Flag},
    {IdNoJvmDocument, "NoJvmDocument", SettingType::Text},
    {IdNoJvmCommand, "NoJvmCommand", SettingType::Text},
    {IdStdOutFileAppend, "StdOutFileAppend", SettingType::Flag},
    {IdStdErrFileAppend, "StdErrFileAppend", SettingType::Flag},
    {IdServiceRestartDelays, "ServiceRestartDelays", SettingType::Text},
    {IdServiceResetSeconds, "ServiceResetSeconds", SettingType::Number},
    {IdServiceNonZeroExitFails, "ServiceNonZeroExitFails", SettingType::Flag},
    {IdServiceDelayedStart, "ServiceDelayedStart", SettingType::Flag},
    {IdServiceAccount, "ServiceAccount", SettingType::Text},
    {IdSecondInstanceMethod, "SecondInstanceMethod", SettingType::Text},
};

const size_t SettingCount = sizeof(SettingTable) / sizeof(SettingTable[0]);

const SettingInfo* FindSetting(const char* name) {
  if (name == nullptr) return nullptr;
  for (const SettingInfo& info : SettingTable) {
    if (std::strcmp(info.name, name) == 0) return &info;
  }
  return nullptr;
}
