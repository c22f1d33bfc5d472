// Running the application: the working folder, the streams, the launcher's system properties and
// the call of main with the static options and the arguments.
#include <shlobj.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "app/application.h"
#include "app/jni_calls.h"
#include "app/run_sequence.h"
#include "app/streams.h"
#include "base/launch_config.h"
#include "base/process_state_win.h"
#include "base/trace.h"
#include "base/variables.h"
#include "runtime/jvm_win.h"
#include "ui/report_win.h"

namespace {

// Ends the console of a service at log-off without ending the service.
BOOL WINAPI LogoffControlHandler(DWORD event) { return event == CTRL_LOGOFF_EVENT ? TRUE : FALSE; }

using FolderFunction = BOOL(WINAPI*)(HWND, LPSTR, int, BOOL);

// Reads the current folder or the executable's path into a buffer of 261 characters; false after
// reporting message 2 with `what`.
bool ReadPath(DWORD length, DWORD capacity, const char* what) {
  if (FitsBuffer(length, capacity)) return true;
  ReportLastError(Message(MessageFileAccess), what);
  return false;
}

char* ExpandOptionToken(const char* token) { return ExpandVariables(token); }

// The calling thread attached to the running VM under `name`, or null.
JNIEnv* Attach(const char* name, bool daemon) {
  JNIEnv* env = nullptr;
  JavaVMAttachArgs attach{LauncherJniVersion, const_cast<char*>(name), nullptr};
  if (JavaVm == nullptr) return nullptr;
  const jint attached = daemon ? JavaVm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), &attach)
                               : JavaVm->AttachCurrentThread(reinterpret_cast<void**>(&env), &attach);
  return attached == JNI_OK ? env : nullptr;
}

}  // namespace

bool CallApplication(JNIEnv* env, int count, char** args, void (*beforeMain)()) {
  char directory[PathCapacity + 1], executable[PathCapacity + 1];
  if (!ReadPath(GetCurrentDirectoryA(sizeof(directory), directory), sizeof(directory), "CURRENT_DIR")) return false;
  if (!ReadPath(GetModuleFileNameA(nullptr, executable, sizeof(executable)), sizeof(executable), "CURRENT_EXE")) {
    return false;
  }
  // Looked up at run time, as old systems lack the function; a folder it cannot name is left out.
  // SHELL32 (with the USER32 it needs) is a noticeable part of a start under Wine, but no other way
  // gives the shell's own answers: the registry's User Shell Folders miss defaults, policies and
  // redirections, and the environment can be changed by anyone.
  HMODULE shell32 = LoadLibraryA("SHELL32.DLL");
  const auto folder = shell32 == nullptr ? nullptr
                                         : reinterpret_cast<FolderFunction>(reinterpret_cast<void*>(
                                               GetProcAddress(shell32, "SHGetSpecialFolderPathA")));
  char folders[3][MAX_PATH + 1] = {};
  const int ids[3] = {CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_PERSONAL};
  const char* named[3] = {};
  for (int i = 0; i < 3; ++i) {
    if (folder != nullptr && folder(nullptr, folders[i], ids[i], FALSE)) named[i] = folders[i];
  }
  const LaunchConfigRecord& c = LaunchConfig;
  const LauncherProperties properties{directory,     executable,    named[0],
                                      named[1],      named[2],      TempDir,
                                      c.ShowConsole, ServiceMode,   c.ServiceName,
                                      c.ServiceDescription, c.ServiceManualStart};
  if (!SetLauncherProperties(env, properties)) return false;
  if (GetProcAddress(JvmModule->Get(), "JNI_CreateJavaVM") == nullptr ||
      GetProcAddress(JvmModule->Get(), "JNI_GetDefaultJavaVMInitArgs") == nullptr) {
    ReportError(Message(MessageJniInterfaces), JvmDllPath);
    return false;
  }
  if (beforeMain != nullptr) beforeMain();
  return RunMain(env, c.MainClass, c.StaticOptions, c.AppOptions, count, args, ExpandOptionToken);
}

JNIEnv* AttachLauncherThread(const char* name) {
  JNIEnv* env = Attach(name, false);
  if (env == nullptr) ReportError(Message(MessageAttach));
  return env;
}

void DetachLauncherThread() {
  if (JavaVm != nullptr) JavaVm->DetachCurrentThread();
}

bool RunApplication(int count, char** args, bool attachMode, void (*beforeMain)()) {
  if (!attachMode && !LaunchConfig.WorkingDirBeforeJvm && !SetWorkingDirectory(false)) return false;
  JNIEnv* env = MainEnv;
  if (attachMode) {
    env = AttachLauncherThread(AttachedThreadName);
    if (env == nullptr) return false;
    const bool called = CallApplication(env, count, args);
    DetachLauncherThread();
    return called;
  }
  // Fails only for a process without a console, which then has no log-off event to survive.
  if (ServiceMode) SetConsoleCtrlHandler(LogoffControlHandler, TRUE);
  if (!PrepareStandardStreams()) return false;
  return CallApplication(env, count, args, beforeMain);
}

void CallSecondStart(int count, char* const* args, const char* folder) {
  static std::atomic<bool> missingSaid{false};
  JNIEnv* env = Attach(SecondStartThreadName, true);
  if (env == nullptr) {
    Trace({"second start: the VM took no thread; its arguments are dropped"});
    return;
  }
  const SecondStartCall call = CallSecondStartMethod(env, LaunchConfig.MainClass, LaunchConfig.SecondInstanceMethod,
                                                     args, count, folder);
  DetachLauncherThread();
  if (call == SecondStartCall::NoMethod && !missingSaid.exchange(true)) {
    Trace({"second start: no method static void ", LaunchConfig.SecondInstanceMethod, "(String[], String) in ",
           LaunchConfig.MainClass, "; the arguments of second starts are dropped"});
  }
  if (call == SecondStartCall::Threw) Trace({"second start: ", LaunchConfig.SecondInstanceMethod, " threw"});
  if (call == SecondStartCall::Called) Trace({"second start: ", LaunchConfig.SecondInstanceMethod, " returned"});
}
