// The vocabulary of the launcher's string table: the ids of its settings and messages, and for the
// tools, each setting's field name and how its text is read.
#pragma once

#include <cstddef>

enum SettingId : int {
  IdJvmVersion = 1001,
  IdJvmPath = 1002,
  IdJvmOptions = 1003,
  IdClassPath = 1004,
  IdJvmSearchOrder = 1005,
  IdRemoveTempArchives = 1006,
  IdTempDirMode = 1007,
  IdInstallSwitch = 1008,
  IdUninstallSwitch = 1009,
  IdServiceSwitch = 1010,
  IdWorkingDir = 1011,
  IdMainClass = 1012,
  IdAppOptions = 1013,
  IdIniFile = 1014,
  IdWorkingDirBeforeJvm = 1015,
  IdKeepStartDir = 1016,
  IdServiceName = 1017,
  IdServiceDescription = 1018,
  IdServiceArgs = 1019,
  IdServiceStopArgs = 1020,
  IdServiceStopByExit = 1021,
  IdServiceManualStart = 1022,
  IdServiceInteractive = 1023,
  IdServiceDependencies = 1024,
  IdStdOutMode = 1025,
  IdStdErrMode = 1026,
  IdStdOutFile = 1027,
  IdStdErrFile = 1028,
  IdAllowMultipleInstances = 1029,
  IdSplashText = 1030,
  IdSplashUntilWindow = 1031,
  IdSplashSeconds = 1032,
  IdPriorityClass = 1033,
  IdServiceOnly = 1034,
  IdStaticOptions = 1035,
  IdServiceArgsFromCommandLine = 1036,
  IdSecondInstanceCall = 1037,
  IdSecondInstanceArgs = 1038,
  IdReportNoJvm = 1039,
  IdNoJvmDocument = 1040,
  IdNoJvmCommand = 1041,
  IdStdOutFileAppend = 1042,
  IdStdErrFileAppend = 1043,
  IdServiceRestartDelays = 1044,
  IdServiceResetSeconds = 1045,
  IdServiceNonZeroExitFails = 1046,
  IdServiceDelayedStart = 1047,
  IdServiceAccount = 1048,
  IdSecondInstanceMethod = 1049,
};

enum MessageId : int {
  MessageAlreadyRunning = 1,
  MessageFileAccess = 2,
  MessageFileWrite = 3,
  MessageNoRuntime = 4,
  MessageJvmLoad = 5,
  MessageJniInterfaces = 6,
  MessageJvmCreate = 7,
  MessageAttach = 8,
  MessageClass = 9,
  MessageMethod = 10,
  MessageObject = 11,
  MessageStringArgument = 12,
  MessageInvoke = 13,
  MessageServiceInstalled = 14,
  MessageServiceUninstalled = 15,
  MessageServiceAlreadyInstalled = 16,
  MessageServiceStarted = 17,
  MessageServiceStopped = 18,
  MessageServiceFailed = 19,
  MessageServiceTimedOut = 20,
  MessageServiceOnly = 21,
  MessageServiceStoppedAndUninstalled = 22,
  MessageServiceNotStopped = 23,
};

constexpr int FirstMessageId = 1;
constexpr int LastMessageId = 23;
constexpr int FirstSettingId = IdJvmVersion;
constexpr int LastSettingId = IdSecondInstanceMethod;

// Language of the message table (English, Australia); the settings are language neutral.
constexpr int MessageLanguage = 3081;

enum class SettingType {
  Text,       // used unchanged; "<null>" or absent reads as empty
  Flag,       // false only when the text begins with "0"
  Number,     // decimal, read like atoi
  Scrambled,  // hex form of the main class
  Message,    // UTF-16 text with "\n" escapes, read like the messages
};

struct SettingInfo {
  SettingId id;
  const char* name;  // the LaunchConfig field name, also the key in project files ([settings])
  SettingType type;
};

// Every setting, in id order.
extern const SettingInfo SettingTable[];
extern const size_t SettingCount;

// The entry for a field name (exact letter case), or null.
const SettingInfo* FindSetting(const char* name);
