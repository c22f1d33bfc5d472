// The JNI call layer against a scripted JNIEnv that fails where a case says: every failure is reported
// once, and a pending exception is described and cleared before a result is judged. The contract tests
// run the same code against HotSpot; these are the failures a real VM rarely gives on demand.
#include "app/jni_calls.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/run_sequence.h"
#include "app/stream_calls.h"
#include "base/launch_config.h"
#include "base/setting_table.h"
#include "base/text.h"
#include "ui/report_api.h"

std::atomic<bool> errorReportsEnabled{true};
namespace {
// What the user and the VM see, in order: files opened, streams installed, properties set, reports.
std::vector<std::string> events;
}  // namespace
#define RECORD(prefix)                                                                 \
  char text[ReportTextCapacity];                                                       \
  va_list arguments;                                                                   \
  va_start(arguments, format);                                                         \
  std::vsnprintf(text, sizeof(text), format, arguments), events.push_back(prefix + std::string(text))
void ReportMessage(int, const char* text) { events.push_back(text); }
void ReportInfo(const char*, ...) {}
void ReportError(const char* format, ...) { RECORD("error: "); }
void ReportErrorWithOutput(const char* format, ...) { RECORD("with output: "); }

namespace {

// How a scripted call fails: its result is null, an exception follows it, or both.
enum Fault { Null = 1, Throws = 2, NullAndThrows = 3 };
using Faults = std::vector<std::pair<std::string, Fault>>;

struct ScriptedVm {
  Faults faults;  // by the call's name and first argument, e.g. "FindClass java/lang/System"
  bool pending = false;
  std::vector<std::string> strings;  // every string made, by handle - 1
  uintptr_t objects = 5000;

  template <typename T>
  T Result(const std::string& call, T value) {
    for (const auto& [name, fault] : faults) {
      if (name == call && (fault & Throws)) pending = true;
      if (name == call && (fault & Null)) return T{};
    }
    return value;
  }
  std::string Text(jobject string) const { return strings.at(reinterpret_cast<uintptr_t>(string) - 1); }
} * vm;

template <typename T>
T Handle(uintptr_t value) { return reinterpret_cast<T>(value); }
jclass JNICALL FindClass(JNIEnv*, const char* name) { return vm->Result("FindClass " + std::string(name), Handle<jclass>(16)); }
jmethodID JNICALL StaticMethod(JNIEnv*, jclass, const char* name, const char* signature) {
  if (std::string(name) == "main") events.push_back(name + std::string(signature));
  return vm->Result("GetStaticMethodID " + std::string(name), reinterpret_cast<jmethodID>(const_cast<char*>(name)));
}
jmethodID JNICALL Method(JNIEnv*, jclass, const char*, const char* signature) {
  return vm->Result("GetMethodID " + std::string(signature), reinterpret_cast<jmethodID>(const_cast<char*>(signature)));
}
jstring JNICALL NewString(JNIEnv*, const jchar* units, jsize length) {
  vm->strings.emplace_back(units, units + length);
  return vm->Result("NewString " + vm->strings.back(), Handle<jstring>(vm->strings.size()));
}
jobjectArray JNICALL NewObjectArray(JNIEnv*, jsize, jclass, jobject) { return vm->Result("NewObjectArray", Handle<jobjectArray>(9)); }
void JNICALL SetElement(JNIEnv*, jobjectArray, jsize index, jobject text) {
  events.push_back(vm->Text(text));
  vm->Result("SetObjectArrayElement " + std::to_string(index), 0);
}
jobject JNICALL CallStaticObject(JNIEnv*, jclass, jmethodID method, va_list arguments) {
  const jobject key = va_arg(arguments, jobject), value = va_arg(arguments, jobject);
  events.push_back(vm->Text(key) + "=" + vm->Text(value));
  return vm->Result("Call " + std::string(reinterpret_cast<const char*>(method)), jobject{});
}
void JNICALL CallStaticVoid(JNIEnv*, jclass, jmethodID method, va_list) {
  const std::string name = reinterpret_cast<const char*>(method);
  vm->Result("Call " + name, name == "main" ? 0 : (events.push_back(name), 0));
}
jobject JNICALL NewObject(JNIEnv*, jclass, jmethodID constructor, va_list arguments) {
  if (std::string(reinterpret_cast<const char*>(constructor)) == "(Ljava/io/OutputStream;)V") {
    return vm->Result("NewObject PrintStream", Handle<jobject>(++vm->objects));
  }
  const jobject path = va_arg(arguments, jobject);
  events.push_back("open " + vm->Text(path) + (va_arg(arguments, int) ? " append" : " replace"));
  return vm->Result("NewObject FileOutputStream", Handle<jobject>(++vm->objects));
}
jboolean JNICALL ExceptionCheck(JNIEnv*) { return vm->pending; }
void JNICALL ExceptionDescribe(JNIEnv*) { events.push_back("(described)"); }
void JNICALL ExceptionClear(JNIEnv*) { vm->pending = false; }

JNIEnv* ScriptedEnv() {
  static JNINativeInterface_ table = {};
  static JNIEnv env{&table};
  table.FindClass = FindClass, table.GetStaticMethodID = StaticMethod, table.GetMethodID = Method;
  table.NewString = NewString, table.NewObjectArray = NewObjectArray, table.SetObjectArrayElement = SetElement;
  table.CallStaticObjectMethodV = CallStaticObject, table.CallStaticVoidMethodV = CallStaticVoid;
  table.NewObjectV = NewObject, table.ExceptionCheck = ExceptionCheck;
  table.ExceptionDescribe = ExceptionDescribe, table.ExceptionClear = ExceptionClear;
  for (const auto& [id, text] : {std::pair{MessageClass, "locating class"}, {MessageMethod, "locating method"},
                                 {MessageObject, "instantiating object"}, {MessageStringArgument, "assigning string argument"},
                                 {MessageInvoke, "invoking method"}}) {
    SetMessage(id, CopyText(("Error " + std::string(text) + ": %s").c_str()));
  }
  return &env;
}

const StreamTarget OutLog{"out.log", true}, ErrLog{"err.log", false}, SameAsOut{"out.log", false};
char* Args[] = {const_cast<char*>("-Dx=1"), const_cast<char*>("-Xfoo")};
const LauncherProperties Properties{"C:\\work", "C:\\app.exe", nullptr, nullptr, "C:\\docs", "C:\\tmp", false, false, nullptr, nullptr, false};
// main's arguments: static tokens (expanded), then the arguments as given, or the AppOptions for none.
char* ExpandV(const char* token) {
  std::string text = token;
  return text.find("%V%") == std::string::npos ? nullptr : CopyText(text.replace(text.find("%V%"), 3, "v").c_str());
}
char* Given[] = {const_cast<char*>("%V%"), const_cast<char*>("two words")}, *Empty[] = {const_cast<char*>("")};
const LauncherProperties Service{"W", "A", "R", "L", "P", "", true, true, "Demo", "Runs", false};

TEST(JniCalls, FailuresAreReportedOnceAfterTheExceptionIsPrinted) {
  using Call = std::function<bool(JNIEnv*)>;
  const Call property = [](JNIEnv* env) { return SetSystemProperty(env, "user.dir", "C:\\app"); };
  const Call array = [](JNIEnv* env) { return NewJavaStringArray(env, Args, 2) != nullptr; };
  const Call main = [](JNIEnv* env) { return CallMain(env, "corvane/test/App", Args, 1); };
  const Call both = [](JNIEnv* env) { return RedirectStandardStreams(env, &OutLog, &ErrLog); };
  const Call properties = [](JNIEnv* env) { return SetLauncherProperties(env, Properties); };
  const std::string locate = "error: Error locating ", make = "error: Error instantiating object: ", d = "(described)",
                    m = "main([Ljava/lang/String;)V";
  const struct { Call call; Faults faults; std::vector<std::string> events; bool succeeds; } cases[] = {
      {property, {}, {"user.dir=C:\\app"}, true},
      {property, {{"FindClass java/lang/System", Throws}}, {d, locate + "class: java/lang/System"}, false},
      {property, {{"Call setProperty", Throws}}, {"user.dir=C:\\app", d, "error: Error invoking method: setProperty"}, false},
      {array, {{"SetObjectArrayElement 1", Throws}}, {"-Dx=1", "-Xfoo", d, "error: Error assigning string argument: -Xfoo"}, false},
      {main, {{"GetStaticMethodID main", Null}}, {m, "with output: Error locating method: main(java/lang/String[])"}, false},
      {main, {{"Call main", Throws}}, {m, "-Dx=1", d, "with output: Error invoking method: main(java/lang/String[])"}, false},
      {[](JNIEnv* env) { return RunMain(env, "App", "-s %V%", "-app", 2, Given, ExpandV); }, {}, {m, "-s", "v", "%V%", "two words"}, true},
      {[](JNIEnv* env) { return RunMain(env, "App", "-s", "x:%V% \"a b\"", 0, nullptr, ExpandV); }, {}, {m, "-s", "x:v", "a b"}, true},
      {[](JNIEnv* env) { return RunMain(env, "App", "", "-app", 1, Empty, ExpandV); }, {}, {m, ""}, true},
      {both, {}, {"open out.log append", "setOut", "open err.log replace", "setErr"}, true},
      {[](JNIEnv* env) { return RedirectStandardStreams(env, &OutLog, &SameAsOut); }, {},
       {"open out.log append", "setOut", "setErr"}, true},  // one path, one stream, System.out's flag
      {both, {{"NewObject FileOutputStream", NullAndThrows}}, {"open out.log append", d, make + "java/io/FileOutputStream"}, false},
      {both, {{"Call setErr", Throws}},
       {"open out.log append", "setOut", "open err.log replace", "setErr", d, "error: Error invoking method: setErr"}, false},
      // The application can do without the extract path and the console flag, but not its own path.
      {properties, {{"NewString corvane.extract.path", Null}, {"NewString corvane.appini.showconsole", Null}},
       {"user.dir=C:\\work", "corvane.exe.path=C:\\app.exe", "corvane.csidl.personal=C:\\docs", make + "java/lang/String",
        make + "java/lang/String"}, true},
      {properties, {{"NewString corvane.exe.path", Null}}, {"user.dir=C:\\work", make + "java/lang/String"}, false},
      {[](JNIEnv* env) { return SetLauncherProperties(env, Service); }, {},
       {"user.dir=W", "corvane.exe.path=A", "corvane.csidl.appdata=R", "corvane.csidl.local.appdata=L", "corvane.csidl.personal=P",
        "corvane.extract.path=", "corvane.appini.showconsole=true", "corvane.service.name=Demo",
        "corvane.service.description=Runs", "corvane.service.starttype=1"}, true},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    ScriptedVm scripted;
    scripted.faults = cases[i].faults;
    vm = &scripted;
    events.clear();
    EXPECT_EQ(cases[i].call(ScriptedEnv()), cases[i].succeeds) << "case " << i;
    EXPECT_EQ(events, cases[i].events) << "case " << i;
    EXPECT_FALSE(scripted.pending) << "case " << i;
  }
  vm = nullptr;
}

}  // namespace
