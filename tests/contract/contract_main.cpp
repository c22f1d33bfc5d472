// cv-contract: runs one contract scenario through the launcher's portable JNI code against a JVM
// library (HotSpot's libjvm.so on Linux, the fake jvm.dll under Wine), so that the host test can
// compare both. Only the JVM and the application print on stdout/stderr during a run; the driver's
// own record goes to the transcript file, one line each:
//   create N | detach N | destroy N | second attach N | second detach N   invocation interface results
//   second call returned|threw|no method|failed   how the second-start method's call went
//   vm TEXT                     a line the VM printed through the vfprintf hook
//   exit-hook N | abort-hook    the VM called that hook (the process ends there)
//   report TEXT                 a report of the launcher's code
//
// The VM is created with the launcher's own option list (its hooks first), then, as the launcher
// does, the scenario's `cd` folder becomes current, its `out` and `err` go to RedirectStandardStreams
// and the launcher's properties are set before main.
//
// Usage: cv-contract <jvm library> <class path> <scenario file> <scenario name> <transcript file>
// Exit status: 0 after DestroyJavaVM, 255 when the run failed (reported), the exit hook's status,
// AbortHookStatus after the abort hook, 2 for a usage or setup fault (said on stderr, no run).
#include <jni.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include "app/application.h"
#include "app/jni_calls.h"
#include "app/run_sequence.h"
#include "app/stream_calls.h"
#include "base/launch_config.h"
#include "base/text.h"
#include "runtime/jvm_options.h"
#include "scenario_file.h"
#include "ui/report_api.h"

namespace {

constexpr int FailedRunStatus = 255;
constexpr int SetupFaultStatus = 2;
// Distinct from every status a VM gives by itself, so that the transcript and the status agree
// that the hook ended the process.
constexpr int AbortHookStatus = 70;

using CreateJavaVmFunction = jint(JNICALL*)(JavaVM** vm, void** env, void* args);

// JNI_CreateJavaVM of the library at `path`, or null with `loaded` saying whether the library loaded.
CreateJavaVmFunction LoadJvmLibrary(const char* path, bool* loaded) {
#ifdef _WIN32
  // Altered search path: the runtime's own DLLs beside jvm.dll are found as a launcher finds them.
  HMODULE library = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  *loaded = library != nullptr;
  return library == nullptr ? nullptr
                            : reinterpret_cast<CreateJavaVmFunction>(reinterpret_cast<void*>(GetProcAddress(library, "JNI_CreateJavaVM")));
#else
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  *loaded = library != nullptr;
  return library == nullptr ? nullptr : reinterpret_cast<CreateJavaVmFunction>(dlsym(library, "JNI_CreateJavaVM"));
#endif
}

// The transcript: every line is complete and flushed at once, since the process may end in the
// middle of a VM call. Text of the vfprintf hook arrives in pieces; each finished line becomes
// "vm <line>", and one still waiting for its end is written before any other line.
std::FILE* transcriptFile = nullptr;
std::mutex transcriptLock;
std::string pendingVm;

void WriteLine(const std::string& text) {
  if (transcriptFile == nullptr) return;
  std::fprintf(transcriptFile, "%s\n", text.c_str());
  std::fflush(transcriptFile);
}

// Takes the VM's text, then writes `line` when there is one.
void Record(const std::string* line, const std::string& vmText = "") {
  std::lock_guard<std::mutex> lock(transcriptLock);
  for (char c : vmText) {
    if (c != '\n') pendingVm.push_back(c);
    if (c == '\n') WriteLine("vm " + std::exchange(pendingVm, ""));
  }
  if (line == nullptr) return;
  if (!pendingVm.empty()) WriteLine("vm " + std::exchange(pendingVm, ""));
  WriteLine(*line);
}

void Line(const std::string& text) { Record(&text); }

// Ends the process at once: the VM's threads may still run, and static destructors must not race them.
[[noreturn]] void End(int status) {
  std::lock_guard<std::mutex> lock(transcriptLock);
  if (!pendingVm.empty()) WriteLine("vm " + pendingVm);
#ifdef _WIN32
  ExitProcess(static_cast<UINT>(status));
#else
  _exit(status);
#endif
}

std::string Format(const char* format, va_list args) {
  std::vector<char> text(ReportTextCapacity);
  std::vsnprintf(text.data(), text.size(), format, args);
  return text.data();
}

jint JNICALL VmPrintHook(FILE*, const char* format, va_list args) {
  const std::string text = Format(format, args);
  Record(nullptr, text);
  return static_cast<jint>(text.size());
}

void JNICALL ExitHook(jint status) {
  Line("exit-hook " + std::to_string(status));
  End(status);
}

void JNICALL AbortHook() {
  Line("abort-hook");
  End(AbortHookStatus);
}

// The launcher's messages that the JNI road reports, with the texts the stub loads.
void LoadMessages() {
  const std::pair<int, const char*> messages[] = {
      {MessageJvmLoad, "Unable to load JVM: %s"},           {MessageJniInterfaces, "Unable to locate JNI interfaces in %s"},
      {MessageJvmCreate, "Unable to create JVM instance using %s"}, {MessageAttach, "Unable to attach thread to the JVM."},
      {MessageClass, "Error locating class: %s"},           {MessageMethod, "Error locating method: %s"},
      {MessageObject, "Error instantiating object: %s"},    {MessageStringArgument, "Error assigning string argument: %s"},
      {MessageInvoke, "Error invoking method: %s"},         {MessageFileAccess, "Error accessing file/directory: %s"}};
  for (const auto& [id, text] : messages) SetMessage(id, CopyText(text));
}

// %NAME% references of option tokens, from a fixed table: the same on every platform.
char* ExpandContractToken(const char* token) {
  std::string result = token;
  for (const auto& [name, value] : {std::pair{"%CONTRACT%", "expanded"}, std::pair{"%CONTRACT_DIR%", "C:\\contract\\dir"}}) {
    for (size_t at = result.find(name); at != std::string::npos; at = result.find(name, at + std::strlen(value))) {
      result.replace(at, std::strlen(name), value);
    }
  }
  return result != token ? CopyText(result.c_str()) : nullptr;
}

bool RunScenarioMain(JNIEnv* env, const Scenario& s, const std::string& commandLine) {
  // Split as the launcher splits a command line; a split that ran out of memory is a fault.
  ArgumentList args;
  if (!SplitCommandLine(commandLine.c_str(), &args.count, &args.items, false)) {
    ReportError(Message(MessageObject), "java/lang/String[]");
    return false;
  }
  return RunMain(env, s.mainClass.c_str(), s.staticOptions.c_str(), s.appOptions.c_str(), args.count, args.items,
                 ExpandContractToken);
}

// The attached thread of attached mode: its own env, its own main call, then detached again.
void RunAttachedThread(JavaVM* vm, const Scenario* s, std::atomic<bool>* ok) {
  JNIEnv* env = nullptr;
  JavaVMAttachArgs attach{LauncherJniVersion, const_cast<char*>(AttachedThreadName), nullptr};
  const jint attached = vm->AttachCurrentThread(reinterpret_cast<void**>(&env), &attach);
  Line("second attach " + std::to_string(attached));
  if (attached != JNI_OK) {
    ReportError("%s", Message(MessageAttach));
    ok->store(false);
    return;
  }
  if (!RunScenarioMain(env, *s, s->secondArgs)) ok->store(false);
  Line("second detach " + std::to_string(vm->DetachCurrentThread()));
}

// The second start of second-start mode: a daemon thread calls the method as the running launcher does.
void RunSecondStart(JavaVM* vm, const Scenario* s) {
  JNIEnv* env = nullptr;
  JavaVMAttachArgs attach{LauncherJniVersion, const_cast<char*>(SecondStartThreadName), nullptr};
  Line("second attach " + std::to_string(vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), &attach)));
  ArgumentList args;
  SplitCommandLine(s->secondArgs.c_str(), &args.count, &args.items, false);
  const SecondStartCall call = CallSecondStartMethod(env, s->mainClass.c_str(), s->secondMethod.c_str(), args.items,
                                                     args.count, "C:\\contract\\second");
  const char* outcomes[] = {"returned", "threw", "no method", "failed"};
  Line(std::string("second call ") + outcomes[static_cast<int>(call)]);
  Line("second detach " + std::to_string(vm->DetachCurrentThread()));
}

// The VM once the launcher has set it up for main, or null after a reported failure.
JNIEnv* StartVm(CreateJavaVmFunction create, const char* library, const char* classPath, const Scenario& s,
                JavaVM** vm) {
  const ClassPathFolders noFolders{[](const char*) { return false; }, nullptr};
  ScopedTextBuffer optionText;
  JvmOptionList options{};
  if (AssembleJvmOptionText(s.vmOptions.c_str(), classPath, noFolders, &optionText) != OptionAssembly::Assembled ||
      !BuildJvmOptionList(optionText.text != nullptr ? optionText.text : "", {VmPrintHook, ExitHook, AbortHook},
                          &options)) {
    std::fprintf(stderr, "cv-contract: out of memory making the VM options\n");
    End(SetupFaultStatus);
  }
  JavaVMInitArgs initArgs{LauncherJniVersion, options.count, options.options, static_cast<jboolean>(s.ignoreUnrecognized ? JNI_TRUE : JNI_FALSE)};
  JNIEnv* env = nullptr;
  const jint created = create(vm, reinterpret_cast<void**>(&env), &initArgs);
  Line("create " + std::to_string(created));
  if (created != JNI_OK) {
    const char* name = std::strrchr(library, '/') != nullptr ? std::strrchr(library, '/') + 1 : library;
    ReportErrorWithOutput(Message(MessageJvmCreate), std::strrchr(name, '\\') != nullptr ? std::strrchr(name, '\\') + 1 : name);
    return nullptr;
  }
  std::error_code changed;
  if (!s.folder.empty()) std::filesystem::current_path(s.folder, changed);
  if (changed) {
    ReportError(Message(MessageFileAccess), s.folder.c_str());
    return nullptr;
  }
  const StreamTarget out{s.out.name.c_str(), s.out.append}, err{s.err.name.c_str(), s.err.append};
  if (!RedirectStandardStreams(env, s.out.name.empty() ? nullptr : &out, s.err.name.empty() ? nullptr : &err)) {
    return nullptr;
  }
  const LauncherProperties properties{"C:\\contract\\dir",           "C:\\contract\\app.exe",
                                      "C:\\contract\\AppData\\Roaming", "C:\\contract\\AppData\\Local",
                                      "C:\\contract\\Documents",     "C:\\contract\\extract",
                                      false,                         s.mode == ScenarioMode::Service,
                                      "ContractService",             "The contract's service",
                                      true};
  return SetLauncherProperties(env, properties) ? env : nullptr;
}

int Run(const char* library, const char* classPath, const Scenario& s) {
  bool loaded = false;
  CreateJavaVmFunction create = LoadJvmLibrary(library, &loaded);
  if (create == nullptr) {
    ReportError(Message(loaded ? MessageJniInterfaces : MessageJvmLoad), library);
    return FailedRunStatus;
  }
  JavaVM* vm = nullptr;
  JNIEnv* env = StartVm(create, library, classPath, s, &vm);
  if (env == nullptr) return FailedRunStatus;
  std::atomic<bool> secondOk{true};
  std::thread second;
  if (s.mode == ScenarioMode::Attached) second = std::thread(RunAttachedThread, vm, &s, &secondOk);
  if (!RunScenarioMain(env, s, s.args)) {
    if (second.joinable()) second.join();
    return FailedRunStatus;
  }
  if (s.mode == ScenarioMode::SecondStart) std::thread(RunSecondStart, vm, &s).join();
  // Once its main returns the creating thread detaches and destroys the VM at once, as the
  // launcher's end and a service's worker do, so that an attached call waiting for it goes on;
  // DestroyJavaVM waits for the application's non-daemon threads and for the attached thread. The
  // lines are written once the attached thread has written its own, so their order is fixed.
  const jint detached = vm->DetachCurrentThread();
  const jint destroyed = vm->DestroyJavaVM();
  if (second.joinable()) second.join();
  if (!secondOk.load()) return FailedRunStatus;
  Line("detach " + std::to_string(detached));
  Line("destroy " + std::to_string(destroyed));
  return destroyed == JNI_OK ? 0 : FailedRunStatus;
}

}  // namespace

// --- The report entry points of the portable code: recorded in the transcript. ---

std::atomic<bool> errorReportsEnabled{true};

void ReportMessage(int level, const char* text) {
  Line(std::string(level == Information ? "report info " : "report ") + (text != nullptr ? text : ""));
}

#define CONTRACT_REPORT(name, level, gated)                                                  \
  void name(const char* format, ...) {                                                       \
    va_list args;                                                                            \
    va_start(args, format);                                                                  \
    const std::string text = Format(format, args);                                           \
    va_end(args);                                                                            \
    if (!(gated) || errorReportsEnabled.load()) ReportMessage(level, text.c_str());          \
  }
CONTRACT_REPORT(ReportInfo, Information, false)
CONTRACT_REPORT(ReportError, Error, true)
// The output itself is on the real stdout/stderr and in the transcript's vm lines; the report is the text.
CONTRACT_REPORT(ReportErrorWithOutput, Error, true)

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr,
                 "usage: cv-contract <jvm library> <class path> <scenario file> <scenario name> <transcript file>\n");
    return SetupFaultStatus;
  }
  std::vector<Scenario> scenarios;
  std::string error;
  if (!ReadScenarioFile(argv[3], &scenarios, &error)) {
    std::fprintf(stderr, "cv-contract: %s\n", error.c_str());
    return SetupFaultStatus;
  }
  const Scenario* scenario = nullptr;
  for (const Scenario& s : scenarios) scenario = s.name == argv[4] ? &s : scenario;
  if (scenario == nullptr || (transcriptFile = std::fopen(argv[5], "wb")) == nullptr) {
    std::fprintf(stderr, "cv-contract: no scenario '%s' in %s, or no transcript file %s\n", argv[4], argv[3], argv[5]);
    return SetupFaultStatus;
  }
  LoadMessages();
  End(Run(argv[1], argv[2], *scenario));
}
