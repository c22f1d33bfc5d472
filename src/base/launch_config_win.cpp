#include "base/launch_config_win.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "base/launch_config.h"
#include "base/scramble.h"
#include "base/setting_decode.h"
#include "base/string_block.h"
#include "base/text.h"

namespace {

// Start-up cannot go on without a few hundred bytes of memory; there is nothing sensible to show.
char* Require(char* text) {
  if (text == nullptr) ExitProcess(static_cast<UINT>(-1));
  return text;
}

HMODULE OwnModule() { return GetModuleHandleA(nullptr); }

char* ConfigText(int id) { return Require(LoadConfigString(id)); }
bool ConfigFlag(int id) { return DecodeFlag(HeapText(ConfigText(id)).get()); }
int32_t ConfigNumber(int id) { return DecodeNumber(HeapText(ConfigText(id)).get()); }

void LoadMessage(int id) { SetMessage(id, Require(LoadMessageString(id))); }

void ApplyPriorityClass(int32_t value) {
  static constexpr DWORD Classes[] = {REALTIME_PRIORITY_CLASS, HIGH_PRIORITY_CLASS,
                                      ABOVE_NORMAL_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS,
                                      BELOW_NORMAL_PRIORITY_CLASS, IDLE_PRIORITY_CLASS};
  const int index = PriorityClassIndex(value);
  // Realtime, for one, needs a privilege: a priority that cannot be had leaves the normal one, and
  // the application runs either way.
  if (index >= 0) SetPriorityClass(GetCurrentProcess(), Classes[index]);
}

}  // namespace

namespace {

// Entry `id` of the string table, converted from UTF-16 with the ANSI code page and cut at its first
// null (malloc'd); "" when its block is missing or the entry does not fit its block, null when
// memory runs out. Read from the resource block itself rather than with LoadStringA, so that reading
// the settings needs no USER32 (whose loading is a noticeable part of a start under Wine); the
// block is found as LoadStringA finds it, in the neutral language.
char* LoadStringEntry(int id) {
  HMODULE module = OwnModule();
  HRSRC resource = FindResourceExA(module, MAKEINTRESOURCEA(6) /* RT_STRING */,
                                   MAKEINTRESOURCEA(id / 16 + 1), 0);
  HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
  const auto* block = static_cast<const unsigned char*>(loaded != nullptr ? LockResource(loaded) : nullptr);
  size_t offset = 0, units = 0;
  if (block == nullptr ||
      !FindStringBlockEntry(block, SizeofResource(module, resource), static_cast<unsigned>(id % 16), &offset,
                            &units)) {
    return CopyText("");
  }
  WCHAR* wide = static_cast<WCHAR*>(std::calloc(units + 1, sizeof(WCHAR)));
  if (wide == nullptr) return nullptr;
  std::memcpy(wide, block + offset, units * sizeof(WCHAR));
  const int needed = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  char* text = needed > 0 ? static_cast<char*>(std::calloc(static_cast<size_t>(needed) + 1, 1)) : nullptr;
  if (text != nullptr) WideCharToMultiByte(CP_ACP, 0, wide, -1, text, needed + 1, nullptr, nullptr);
  std::free(wide);
  if (text == nullptr) return needed > 0 ? nullptr : CopyText("");
  return text;
}

}  // namespace

char* LoadConfigString(int id) {
  char* text = id >= 0 ? LoadStringEntry(id) : CopyText("");
  if (text != nullptr && std::strcmp(text, NullMarker) == 0) text[0] = '\0';
  return text;
}

char* LoadMessageString(int id) {
  char* text = id >= 0 ? LoadStringEntry(id) : CopyText("");
  if (text != nullptr) ExpandMessageEscapes(text);
  return text;
}

void LoadLaunchConfig(const char* appName) {
  LaunchConfigRecord& c = EditLaunchConfig();
  // 1. The main class: kept as stored (it also names TempDir) and descrambled.
  c.MainClassStored = ConfigText(IdMainClass);
  c.MainClass = Require(CopyText(DescrambleText(c.MainClassStored)));
  // 2. Texts.
  c.JvmPath = ConfigText(IdJvmPath);
  c.ClassPath = ConfigText(IdClassPath);
  c.JvmOptions = ConfigText(IdJvmOptions);
  c.InstallSwitch = ConfigText(IdInstallSwitch);
  c.UninstallSwitch = ConfigText(IdUninstallSwitch);
  c.ServiceSwitch = ConfigText(IdServiceSwitch);
  c.ServiceName = ConfigText(IdServiceName);
  c.ServiceDescription = ConfigText(IdServiceDescription);
  c.WorkingDir = ConfigText(IdWorkingDir);
  c.AppOptions = ConfigText(IdAppOptions);
  c.StaticOptions = ConfigText(IdStaticOptions);
  c.ServiceArgs = ConfigText(IdServiceArgs);
  c.ServiceStopArgs = ConfigText(IdServiceStopArgs);
  c.ServiceDependencies = ConfigText(IdServiceDependencies);
  c.StdOutFile = ConfigText(IdStdOutFile);
  c.StdErrFile = ConfigText(IdStdErrFile);
  c.SplashText = Require(LoadMessageString(IdSplashText));
  // Read as a message, but it is a setting: the marker of an unset one is the empty text.
  if (std::strcmp(c.SplashText, NullMarker) == 0) c.SplashText[0] = '\0';
  // 3. The INI file name.
  c.IniFile = Require(SubstituteIniName(HeapText(ConfigText(IdIniFile)).get(), appName));
  // 4. More texts.
  c.JvmSearchOrder = ConfigText(IdJvmSearchOrder);
  c.SecondInstanceArgs = ConfigText(IdSecondInstanceArgs);
  c.NoJvmDocument = ConfigText(IdNoJvmDocument);
  c.NoJvmCommand = ConfigText(IdNoJvmCommand);
  // 5. Flags.
  c.StdOutFileAppend = ConfigFlag(IdStdOutFileAppend);
  c.StdErrFileAppend = ConfigFlag(IdStdErrFileAppend);
  c.WorkingDirBeforeJvm = ConfigFlag(IdWorkingDirBeforeJvm);
  c.AllowMultipleInstances = ConfigFlag(IdAllowMultipleInstances);
  c.SplashUntilWindow = ConfigFlag(IdSplashUntilWindow);
  c.ServiceManualStart = ConfigFlag(IdServiceManualStart);
  c.ServiceStopByExit = ConfigFlag(IdServiceStopByExit);
  c.KeepStartDir = ConfigFlag(IdKeepStartDir);
  c.ServiceInteractive = ConfigFlag(IdServiceInteractive);
  c.RemoveTempArchives = ConfigFlag(IdRemoveTempArchives);
  c.ServiceArgsFromCommandLine = ConfigFlag(IdServiceArgsFromCommandLine);
  c.SecondInstanceCall = ConfigFlag(IdSecondInstanceCall);
  // 6. Numbers; the priority class applies at once.
  c.SplashSeconds = ConfigNumber(IdSplashSeconds);
  c.PriorityClass = ConfigNumber(IdPriorityClass);
  ApplyPriorityClass(c.PriorityClass);
  // 7.
  c.StdOutMode = ConfigNumber(IdStdOutMode);
  c.StdErrMode = ConfigNumber(IdStdErrMode);
  c.ServiceOnly = ConfigFlag(IdServiceOnly);
  c.JvmVersion = ConfigText(IdJvmVersion);
  // 8. The class name as the JVM looks it up.
  for (char* p = c.MainClass; *p != '\0'; ++p) {
    if (*p == '.') *p = '/';
  }
  // 9.
  c.ReportNoJvm = ConfigFlag(IdReportNoJvm);
  c.ServiceRestartDelays = ConfigText(IdServiceRestartDelays);
  c.ServiceResetSeconds = ConfigNumber(IdServiceResetSeconds);
  c.ServiceNonZeroExitFails = ConfigFlag(IdServiceNonZeroExitFails);
  c.ServiceDelayedStart = ConfigFlag(IdServiceDelayedStart);
  c.ServiceAccount = ConfigText(IdServiceAccount);
  c.SecondInstanceMethod = ConfigText(IdSecondInstanceMethod);
  // 10. Messages (2 was loaded by the driver before anything else).
  static constexpr int Messages[] = {1, 3, 17, 18, 19, 20, 16, 14, 15, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 21, 22, 23};
  for (int id : Messages) LoadMessage(id);
  // 11.
  c.AppMutex = Require(CopyText(c.MainClass));
  c.ShowConsole = false;
}
