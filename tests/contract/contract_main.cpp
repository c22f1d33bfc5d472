// cv-contract: runs one contract scenario through the launcher's portable JNI code against a JVM
// library (HotSpot's libjvm.so on Linux, the fake jvm.dll under Wine), so that the host test can
// compare both. Only the JVM and the application print on stdout/stderr during a run; the driver's
// own record (hook calls, reports, the results of the invocation interface) goes to the transcript
// file, one line each:
//   create N | attach N | detach N | destroy N     results of the invocation interface
//   second attach N | second detach N              the same for the attached thread
//   vm TEXT                                        a line the VM printed through the vfprintf hook
//   exit-hook N | abort-hook                       the VM called that hook (the process ends there)
//   report TEXT | report info TEXT                 a report of the launcher's code
//
// A scenario's `out` and `err` go to RedirectStandardStreams right after the VM is created, before
// the launcher's properties, as the launcher does; their names are relative, so the VM opens them
// in the current folder, which the test makes the run's own. The test records the files.
//
// Usage: cv-contract <jvm library> <class path> <scenario file> <scenario name> <transcript file>
// Exit status: 0 after DestroyJavaVM, 255 when the run failed (reported), the exit hook's status,
// AbortHookStatus after the abort hook, 2 for a usage or setup fault (said on stderr, no run).
#include <jni.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/application.h"
#include "app/jni_calls.h"
#include "app/run_sequence.h"
#include "app/stream_calls.h"
#include "base/launch_config.h"
#include "base/text.h"
#include "contract_platform.h"
#include "runtime/jvm_options.h"
#include "scenario_file.h"
#include "ui/report_api.h"

namespace {

constexpr int FailedRunStatus = 255;
constexpr int SetupFaultStatus = 2;
// Distinct from every status a VM gives by itself, so that the transcript and the status agree
// that the hook ended the process.
constexpr int AbortHookStatus = 70;

// The transcript: every write is complete and flushed at once, since the process may end in the
// middle of a VM call.
class Transcript {
 public:
  bool Open(const char* path) {
    file_ = std::fopen(path, "wb");
    return file_ != nullptr;
  }

  // A VM text still waiting for its line end is written first, so that lines keep their order.
  void Line(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    FlushVmLocked();
    WriteLocked(text);
  }

  // Text of the vfprintf hook arrives in pieces; each finished line becomes "vm <line>".
  void VmText(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (char c : text) {
      if (c == '\n') {
        if (!pendingVm_.empty() && pendingVm_.back() == '\r') pendingVm_.pop_back();
        WriteLocked("vm " + pendingVm_);
        pendingVm_.clear();
      } else {
        pendingVm_.push_back(c);
      }
    }
  }

  // A VM line without its line end is still written before the process ends.
  void FlushVm() {
    std::lock_guard<std::mutex> lock(mutex_);
    FlushVmLocked();
  }

 private:
  void FlushVmLocked() {
    if (pendingVm_.empty()) return;
    WriteLocked("vm " + pendingVm_);
    pendingVm_.clear();
  }

  void WriteLocked(const std::string& text) {
    if (file_ == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
  }

  std::FILE* file_ = nullptr;
  std::mutex mutex_;
  std::string pendingVm_;
};

Transcript transcript;

[[noreturn]] void End(int status) {
  transcript.FlushVm();
  EndProcessNow(status);
}

jint JNICALL VmPrintHook(FILE*, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[1024];
  const int length = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (length < 0) return length;
  std::string text;
  if (static_cast<size_t>(length) < sizeof small) {
    text.assign(small, static_cast<size_t>(length));
  } else {
    text.resize(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(length));
  }
  transcript.VmText(text);
  return length;
}

void JNICALL ExitHook(jint status) {
  transcript.Line("exit-hook " + std::to_string(status));
  End(status);
}

void JNICALL AbortHook() {
  transcript.Line("abort-hook");
  End(AbortHookStatus);
}

std::string Format(const char* format, va_list args) {
  char text[ReportTextCapacity];
  std::vsnprintf(text, sizeof text, format, args);
  return text;
}

// The launcher's messages that the JNI road reports, with the texts the stub loads.
void LoadMessages() {
  static const struct {
    int id;
    const char* text;
  } messages[] = {
      {MessageJvmLoad, "Unable to load JVM: %s"},
      {MessageJniInterfaces, "Unable to locate JNI interfaces in %s"},
      {MessageJvmCreate, "Unable to create JVM instance using %s"},
      {MessageAttach, "Unable to attach thread to the JVM."},
      {MessageClass, "Error locating class: %s"},
      {MessageMethod, "Error locating method: %s"},
      {MessageObject, "Error instantiating object: %s"},
      {MessageStringArgument, "Error assigning string argument: %s"},
      {MessageInvoke, "Error invoking method: %s"},
  };
  for (const auto& m : messages) SetMessage(m.id, CopyText(m.text));
}

// %NAME% references of option tokens, from a fixed table: the same on every platform.
char* ExpandContractToken(const char* token) {
  static const struct {
    const char* name;
    const char* value;
  } variables[] = {
      {"CONTRACT", "expanded"},
      {"CONTRACT_DIR", "C:\\contract\\dir"},
  };
  std::string result;
  bool replaced = false;
  const char* p = token;
  while (*p != '\0') {
    const char* close = p[0] == '%' ? std::strchr(p + 1, '%') : nullptr;
    if (close != nullptr) {
      const std::string name(p + 1, close);
      const char* value = nullptr;
      for (const auto& v : variables) {
        if (name == v.name) value = v.value;
      }
      if (value != nullptr) {
        result += value;
        replaced = true;
        p = close + 1;
        continue;
      }
    }
    result.push_back(*p++);
  }
  return replaced ? CopyText(result.c_str()) : nullptr;
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

// The scenario's stream files, if any; false after a reported failure.
bool RedirectScenarioStreams(JNIEnv* env, const Scenario& s) {
  const StreamTarget out{s.out.name.c_str(), s.out.append};
  const StreamTarget err{s.err.name.c_str(), s.err.append};
  return RedirectStandardStreams(env, s.out.name.empty() ? nullptr : &out, s.err.name.empty() ? nullptr : &err);
}

// The attached thread of attached mode: its own env, its own main call, then detached again.
void RunAttachedThread(JavaVM* vm, const Scenario* s, std::atomic<bool>* ok) {
  JNIEnv* env = nullptr;
  JavaVMAttachArgs attach{LauncherJniVersion, const_cast<char*>(AttachedThreadName), nullptr};
  const jint attached = vm->AttachCurrentThread(reinterpret_cast<void**>(&env), &attach);
  transcript.Line("second attach " + std::to_string(attached));
  if (attached != JNI_OK) {
    ReportError("%s", Message(MessageAttach));
    ok->store(false);
    return;
  }
  if (!RunScenarioMain(env, *s, s->secondArgs)) ok->store(false);
  transcript.Line("second detach " + std::to_string(vm->DetachCurrentThread()));
}

// The last component of a path (after the last / or \\).
const char* FileNameOf(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return name;
}

int Run(const char* library, const char* classPath, const Scenario& s) {
  LoadFault fault = LoadFault::None;
  std::string reason;
  CreateJavaVmFunction create = LoadJvmLibrary(library, &fault, &reason);
  if (create == nullptr) {
    if (fault == LoadFault::Library) {
      ReportError(Message(MessageJvmLoad), library);
    } else {
      ReportError(Message(MessageJniInterfaces), library);
    }
    transcript.Line("load fault: " + reason);
    return FailedRunStatus;
  }

  // The options as the launcher makes them: the scenario's, the class path (one archive, no
  // folders), then the hooks.
  const ClassPathFolders noFolders{[](const char*) { return false; }, nullptr};
  ScopedTextBuffer optionText;
  JvmOptionList options{};
  if (AssembleJvmOptionText(s.vmOptions.c_str(), classPath, noFolders, &optionText) != OptionAssembly::Assembled ||
      !BuildJvmOptionList(optionText.text != nullptr ? optionText.text : "", {VmPrintHook, ExitHook, AbortHook},
                          &options)) {
    std::fprintf(stderr, "cv-contract: out of memory making the VM options\n");
    return SetupFaultStatus;
  }
  JavaVMInitArgs initArgs{};
  initArgs.version = LauncherJniVersion;
  initArgs.nOptions = options.count;
  initArgs.options = options.options;
  initArgs.ignoreUnrecognized = JNI_FALSE;

  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  const jint created = create(&vm, reinterpret_cast<void**>(&env), &initArgs);
  transcript.Line("create " + std::to_string(created));
  if (created != JNI_OK) {
    ReportErrorWithOutput(Message(MessageJvmCreate), FileNameOf(library));
    return FailedRunStatus;
  }

  if (!RedirectScenarioStreams(env, s)) return FailedRunStatus;

  LauncherProperties properties{};
  properties.userDir = "C:\\contract\\dir";
  properties.exePath = "C:\\contract\\app.exe";
  properties.appData = "C:\\contract\\AppData\\Roaming";
  properties.localAppData = "C:\\contract\\AppData\\Local";
  properties.personal = "C:\\contract\\Documents";
  properties.extractPath = "C:\\contract\\extract";
  properties.showConsole = false;
  properties.serviceMode = s.mode == ScenarioMode::Service;
  properties.serviceName = "ContractService";
  properties.serviceDescription = "The contract's service";
  properties.serviceManualStart = true;
  if (!SetLauncherProperties(env, properties)) return FailedRunStatus;

  std::atomic<bool> secondOk{true};
  std::thread second;
  if (s.mode == ScenarioMode::Attached) second = std::thread(RunAttachedThread, vm, &s, &secondOk);
  const bool mainOk = RunScenarioMain(env, s, s.args);
  if (!mainOk) {
    if (second.joinable()) second.join();
    return FailedRunStatus;
  }
  // Once its main returns the creating thread detaches and destroys the VM at once, as the
  // launcher's end and a service's worker do, so that an attached call waiting for it goes on;
  // DestroyJavaVM waits for the application's non-daemon threads and for the attached thread. The
  // lines are written once the attached thread has written its own, so their order is fixed.
  const jint detached = vm->DetachCurrentThread();
  const jint destroyed = vm->DestroyJavaVM();
  if (second.joinable()) second.join();
  if (!secondOk.load()) return FailedRunStatus;
  transcript.Line("detach " + std::to_string(detached));
  transcript.Line("destroy " + std::to_string(destroyed));
  return destroyed == JNI_OK ? 0 : FailedRunStatus;
}

}  // namespace

// --- The report entry points of the portable code: recorded in the transcript. ---

std::atomic<bool> errorReportsEnabled{true};

void ReportMessage(int level, const char* text) {
  transcript.Line(std::string(level == Information ? "report info " : "report ") + (text != nullptr ? text : ""));
}

void ReportInfo(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = Format(format, args);
  va_end(args);
  ReportMessage(Information, text.c_str());
}

namespace {
void ReportErrorV(const char* format, va_list args) {
  if (!errorReportsEnabled.load()) return;
  ReportMessage(Error, Format(format, args).c_str());
}
}  // namespace

void ReportError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ReportErrorV(format, args);
  va_end(args);
}

// The output itself is on the real stdout/stderr, which the test captures; the report is the text.
void ReportErrorWithOutput(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ReportErrorV(format, args);
  va_end(args);
}

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
  for (const Scenario& s : scenarios) {
    if (s.name == argv[4]) scenario = &s;
  }
  if (scenario == nullptr) {
    std::fprintf(stderr, "cv-contract: no scenario '%s' in %s\n", argv[4], argv[3]);
    return SetupFaultStatus;
  }
  if (!transcript.Open(argv[5])) {
    std::fprintf(stderr, "cv-contract: cannot write the transcript %s\n", argv[5]);
    return SetupFaultStatus;
  }
  LoadMessages();
  // Not a plain return: the VM's threads may still run, and static destructors must not race them.
  End(Run(argv[1], argv[2], *scenario));
}
