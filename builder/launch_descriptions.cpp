#include "launch_descriptions.h"

#include "base/setting_table.h"

namespace corvane::builder {

const char* SettingDescription(int id) {
  switch (id) {
    case IdJvmVersion: return "Java version rule: a version with an optional >, >=, =, <, <= in front; rules separated by \";\" must all hold";
    case IdJvmPath: return "jvm.dll paths tried by search digit 0, separated by \";\", relative to the executable";
    case IdJvmOptions: return "options for the JVM, split like a command line; %NAME% variables are expanded";
    case IdClassPath: return "class path entries separated by \";\"; a folder adds every .jar and .zip below it";
    case IdJvmSearchOrder: return "where to look for a runtime, one digit each: 0 JvmPath, 1-4 older installers' registry keys, 5 JAVA_HOME, 6-8 today's installers' keys (8 per-user), 9 java.exe on PATH";
    case IdRemoveTempArchives: return "delete the extracted archives once the application has ended";
    case IdTempDirMode: return "where carried archives are extracted: 0 the program's folder, 1 a folder in the program's folder, 2 the user's temporary folder";
    case IdInstallSwitch: return "command-line switch that installs the service";
    case IdUninstallSwitch: return "command-line switch that removes the service";
    case IdServiceSwitch: return "switch with which the service manager starts the launcher";
    case IdWorkingDir: return "working folder of the application, relative to the executable; \"\" keeps the executable's folder";
    case IdMainClass: return "the application's main class (stored scrambled)";
    case IdAppOptions: return "arguments for main when the command line has none";
    case IdIniFile: return "INI file beside the executable that may override settings; %APPNAME% is the executable's name";
    case IdWorkingDirBeforeJvm: return "enter WorkingDir before the JVM is created rather than just before main";
    case IdKeepStartDir: return "run the application in the folder the launcher was started from";
    case IdServiceName: return "name of the Windows service; \"\" turns the service switches off";
    case IdServiceDescription: return "description of the Windows service";
    case IdServiceArgs: return "arguments for main when running as a service";
    case IdServiceStopArgs: return "arguments of the second main call that asks the application to stop";
    case IdServiceStopByExit: return "stop the service with System.exit instead of a second main call";
    case IdServiceManualStart: return "install the service to start on demand instead of automatically";
    case IdServiceInteractive: return "install the service as one that may use the desktop";
    case IdServiceDependencies: return "services that must run first, separated by \";\"";
    case IdStdOutMode: return "System.out: 0 left alone, 1 StdOutFile, 2 captured for error reports";
    case IdStdErrMode: return "System.err: 0 left alone, 1 StdErrFile, 2 captured for error reports";
    case IdStdOutFile: return "log file of System.out (mode 1)";
    case IdStdErrFile: return "log file of System.err (mode 1)";
    case IdAllowMultipleInstances: return "let several instances run at once";
    case IdSplashText: return "text of the splash window";
    case IdSplashUntilWindow: return "close the splash once the application shows a window";
    case IdSplashSeconds: return "close the splash after this many seconds; 0 sets no limit";
    case IdPriorityClass: return "process priority: 0 realtime, 1 high, 2 above normal, 3 normal, 4 below normal, 5 idle";
    case IdServiceOnly: return "refuse to run other than through the service switches";
    case IdStaticOptions: return "arguments always put before the application's arguments";
    case IdServiceArgsFromCommandLine: return "take service name, description and start type from the command line of the service switches";
    case IdSecondInstanceCall: return "when another instance runs, call main with SecondInstanceArgs instead of refusing";
    case IdSecondInstanceArgs: return "arguments put before the command-line arguments of a second instance's call";
    case IdReportNoJvm: return "say so when no suitable Java runtime is found";
    case IdNoJvmDocument: return "document or address opened when no runtime is found";
    case IdNoJvmCommand: return "command started when no runtime is found";
    case IdStdOutFileAppend: return "append to StdOutFile instead of replacing it";
    case IdStdErrFileAppend: return "append to StdErrFile instead of replacing it";
    case IdServiceRestartDelays: return "milliseconds before the service is restarted after its first, second and later failures, separated by \";\"; \"\" sets no failure actions";
    case IdServiceResetSeconds: return "seconds without a failure after which the failure count starts again (with ServiceRestartDelays)";
    case IdServiceNonZeroExitFails: return "a service that stops with a status other than 0 has failed (with ServiceRestartDelays)";
    case IdServiceDelayedStart: return "start the automatic service a while after the others";
    case IdSecondInstanceMethod: return "static method of the main class (String[] args, String folder) that gets a second start's arguments in the running instance; \"\" none";
    case IdServiceAccount: return "account the service runs as: \"\" LocalSystem, NT AUTHORITY\\LocalService, NT AUTHORITY\\NetworkService, .\\name or DOMAIN\\name";
    default: return "";
  }
}

}  // namespace corvane::builder
