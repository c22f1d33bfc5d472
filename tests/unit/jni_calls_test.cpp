// The JNI call layer against a scripted JNIEnv that fails where a test tells it to: every failure
// is reported once with its message and name, and a pending exception is always described and
// cleared before a result is judged. (The contract tests run the same code against HotSpot; the
// failures here are the ones a real VM rarely gives on demand.)
#include "app/jni_calls.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/run_sequence.h"
#include "app/stream_calls.h"
#include "base/launch_config.h"
#include "base/setting_table.h"
#include "base/text.h"
#include "ui/report_api.h"

// Recording reports: the layer's only way to tell the user.
std::atomic<bool> errorReportsEnabled{true};
namespace {
std::vector<std::string> reports;
std::string Format(const char* format, va_list arguments) {
  char text[ReportTextCapacity];
  std::vsnprintf(text, sizeof(text), format, arguments);
  return text;
}
}  // namespace
void ReportMessage(int, const char* text) { reports.push_back(text); }
void ReportInfo(const char*, ...) {}
void ReportError(const char* format, ...) {
  if (!errorReportsEnabled) return;
  va_list arguments;
  va_start(arguments, format);
  reports.push_back("error: " + Format(format, arguments));
  va_end(arguments);
}
void ReportErrorWithOutput(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  reports.push_back("with output: " + Format(format, arguments));
  va_end(arguments);
}

namespace {

// How a scripted call fails: its result is null, an exception follows it, or both.
enum Fault { None = 0, Null = 1, Throws = 2, NullAndThrows = 3 };

// A JNIEnv whose calls succeed unless `faults` names them ("FindClass java/lang/System",
// "GetStaticMethodID main", "NewString -Xfoo", "SetObjectArrayElement 1", "Call setProperty").
struct ScriptedVm {
  std::vector<std::pair<std::string, Fault>> faults;
  bool pending = false;
  std::vector<std::string> log;                 // calls, in order
  std::vector<std::u16string> strings;          // every string made, by handle - 1
  std::vector<std::vector<jobject>> arrays;     // every array made, by handle - 1000
  std::vector<std::pair<std::string, std::string>> properties;
  std::vector<std::string> files;                              // "path append|replace" per FileOutputStream
  std::vector<std::pair<std::string, jobject>> installed;       // setOut/setErr and the stream
  uintptr_t objects = 5000;

  Fault FaultOf(const std::string& call) const {
    for (const auto& [name, fault] : faults) {
      if (name == call) return fault;
    }
    return None;
  }
  // Applies the scripted fault of a call that gives a reference.
  template <typename T>
  T Result(const std::string& call, T value) {
    log.push_back(call);
    const Fault fault = FaultOf(call);
    if (fault & Throws) pending = true;
    return (fault & Null) ? T{} : value;
  }
  std::string Text(jobject string) const {
    const std::u16string& units = strings.at(reinterpret_cast<uintptr_t>(string) - 1);
    std::string ascii;
    for (char16_t c : units) ascii += c < 128 ? static_cast<char>(c) : '?';
    return ascii;
  }
};

ScriptedVm* vm = nullptr;

jclass JNICALL FindClass(JNIEnv*, const char* name) {
  return vm->Result("FindClass " + std::string(name), reinterpret_cast<jclass>(0x10));
}
jmethodID JNICALL GetStaticMethodID(JNIEnv*, jclass, const char* name, const char*) {
  return vm->Result("GetStaticMethodID " + std::string(name), reinterpret_cast<jmethodID>(const_cast<char*>(name)));
}
jstring JNICALL NewString(JNIEnv*, const jchar* units, jsize length) {
  std::u16string text(reinterpret_cast<const char16_t*>(units), static_cast<size_t>(length));
  std::string ascii;
  for (char16_t c : text) ascii += c < 128 ? static_cast<char>(c) : '?';
  vm->strings.push_back(text);
  return vm->Result("NewString " + ascii, reinterpret_cast<jstring>(vm->strings.size()));
}
jobjectArray JNICALL NewObjectArray(JNIEnv*, jsize length, jclass, jobject) {
  vm->arrays.emplace_back(static_cast<size_t>(length));
  return vm->Result("NewObjectArray", reinterpret_cast<jobjectArray>(999 + vm->arrays.size()));
}
void JNICALL SetObjectArrayElement(JNIEnv*, jobjectArray array, jsize index, jobject value) {
  vm->Result("SetObjectArrayElement " + std::to_string(index), 0);
  if (vm->FaultOf("SetObjectArrayElement " + std::to_string(index)) == None) {
    vm->arrays.at(reinterpret_cast<uintptr_t>(array) - 1000).at(static_cast<size_t>(index)) = value;
  }
}
jobject JNICALL CallStaticObjectMethodV(JNIEnv*, jclass, jmethodID method, va_list arguments) {
  const auto key = va_arg(arguments, jobject);
  const auto value = va_arg(arguments, jobject);
  vm->properties.emplace_back(vm->Text(key), vm->Text(value));
  return vm->Result("Call " + std::string(reinterpret_cast<const char*>(method)), jobject{});
}
void JNICALL CallStaticVoidMethodV(JNIEnv*, jclass, jmethodID method, va_list arguments) {
  const std::string name = reinterpret_cast<const char*>(method);
  if (name == "setOut" || name == "setErr") vm->installed.emplace_back(name, va_arg(arguments, jobject));
  vm->Result("Call " + name, 0);
}
jmethodID JNICALL GetMethodID(JNIEnv*, jclass, const char*, const char* signature) {
  return vm->Result("GetMethodID " + std::string(signature), reinterpret_cast<jmethodID>(const_cast<char*>(signature)));
}
jobject JNICALL NewObjectV(JNIEnv*, jclass, jmethodID constructor, va_list arguments) {
  const std::string signature = reinterpret_cast<const char*>(constructor);
  const bool file = signature == "(Ljava/lang/String;Z)V";
  if (file) {
    const auto path = va_arg(arguments, jobject);
    const int append = va_arg(arguments, int);
    vm->files.push_back(vm->Text(path) + (append ? " append" : " replace"));
  }
  return vm->Result(std::string("NewObject ") + (file ? "FileOutputStream" : "PrintStream"),
                    reinterpret_cast<jobject>(++vm->objects));
}
jboolean JNICALL ExceptionCheck(JNIEnv*) { return vm->pending ? JNI_TRUE : JNI_FALSE; }
void JNICALL ExceptionDescribe(JNIEnv*) { vm->log.push_back("ExceptionDescribe"); }
void JNICALL ExceptionClear(JNIEnv*) {
  vm->log.push_back("ExceptionClear");
  vm->pending = false;
}

class JniCalls : public testing::Test {
 protected:
  void SetUp() override {
    const std::pair<int, const char*> messages[] = {
        {MessageClass, "Error locating class: %s"},          {MessageMethod, "Error locating method: %s"},
        {MessageObject, "Error instantiating object: %s"}, {MessageStringArgument, "Error assigning string argument: %s"},
        {MessageInvoke, "Error invoking method: %s"}};
    static_assert(MessageClass == 9 && MessageInvoke == 13);
    for (const auto& [id, text] : messages) SetMessage(id, CopyText(text));
    table_.FindClass = FindClass;
    table_.GetStaticMethodID = GetStaticMethodID;
    table_.NewString = NewString;
    table_.NewObjectArray = NewObjectArray;
    table_.SetObjectArrayElement = SetObjectArrayElement;
    table_.CallStaticObjectMethodV = CallStaticObjectMethodV;
    table_.CallStaticVoidMethodV = CallStaticVoidMethodV;
    table_.ExceptionCheck = ExceptionCheck;
    table_.GetMethodID = GetMethodID;
    table_.NewObjectV = NewObjectV;
    table_.ExceptionDescribe = ExceptionDescribe;
    table_.ExceptionClear = ExceptionClear;
    env_.functions = &table_;
    vm = &scripted_;
    reports.clear();
  }
  void TearDown() override {
    // Whatever happened, no exception is left pending for the next JNI step.
    EXPECT_FALSE(scripted_.pending);
    vm = nullptr;
  }
  JNIEnv* Env() { return &env_; }
  size_t Count(const std::string& call) const {
    return static_cast<size_t>(std::count(scripted_.log.begin(), scripted_.log.end(), call));
  }

  ScriptedVm scripted_;
  JNINativeInterface_ table_{};
  JNIEnv env_{};
};

struct PropertyCase {
  const char* name;
  std::vector<std::pair<std::string, Fault>> faults;
  std::vector<std::string> reported;  // empty: success
};

class SetSystemPropertyFailures : public JniCalls, public testing::WithParamInterface<PropertyCase> {};

TEST_P(SetSystemPropertyFailures, AreReportedOnceAndAnswerFalse) {
  const PropertyCase& c = GetParam();
  scripted_.faults = c.faults;
  const bool set = SetSystemProperty(Env(), "user.dir", "C:\\app");
  EXPECT_EQ(set, c.reported.empty());
  EXPECT_EQ(reports, c.reported);
  // Every exception was described once and cleared.
  size_t thrown = 0;
  for (const auto& fault : c.faults) thrown += (fault.second & Throws) ? 1 : 0;
  EXPECT_EQ(Count("ExceptionDescribe"), thrown);
  EXPECT_EQ(Count("ExceptionClear"), thrown);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SetSystemPropertyFailures,
    testing::Values(
        PropertyCase{"AllStepsSucceed", {}, {}},
        PropertyCase{"KeyStringNull", {{"NewString user.dir", Null}}, {"error: Error instantiating object: java/lang/String"}},
        PropertyCase{"ValueStringThrows",
                     {{"NewString C:\\app", NullAndThrows}},
                     {"error: Error instantiating object: java/lang/String"}},
        PropertyCase{"SystemClassMissing",
                     {{"FindClass java/lang/System", NullAndThrows}},
                     {"error: Error locating class: java/lang/System"}},
        // The exception check comes first: a result with an exception behind it is a failure.
        PropertyCase{"SystemClassWithPendingException",
                     {{"FindClass java/lang/System", Throws}},
                     {"error: Error locating class: java/lang/System"}},
        PropertyCase{"SetPropertyMissing",
                     {{"GetStaticMethodID setProperty", Null}},
                     {"error: Error locating method: setProperty"}},
        PropertyCase{"SetPropertyThrows",
                     {{"Call setProperty", Throws}},
                     {"error: Error invoking method: setProperty"}}),
    [](const testing::TestParamInfo<PropertyCase>& info) { return std::string(info.param.name); });

TEST_F(JniCalls, SetSystemPropertyPassesKeyAndValue) {
  ASSERT_TRUE(SetSystemProperty(Env(), "corvane.exe.path", ""));
  ASSERT_EQ(scripted_.properties.size(), 1u);
  EXPECT_EQ(scripted_.properties[0], (std::pair<std::string, std::string>{"corvane.exe.path", ""}));
}

TEST_F(JniCalls, AnsiTextBecomesTheCodePagesCharacters) {
  // Windows-1252: 0xE9 is e acute, 0x80 the euro sign; an empty text is a string of length 0.
  ASSERT_NE(NewJavaString(Env(), "caf\xE9 \x80"), nullptr);
  ASSERT_NE(NewJavaString(Env(), ""), nullptr);
  EXPECT_EQ(scripted_.strings[0], u"caf\u00e9 \u20ac");
  EXPECT_EQ(scripted_.strings[1], u"");
}

struct ArrayCase {
  const char* name;
  std::vector<std::pair<std::string, Fault>> faults;
  std::vector<std::string> reported;
};

class StringArrayFailures : public JniCalls, public testing::WithParamInterface<ArrayCase> {};

TEST_P(StringArrayFailures, NameWhatCouldNotBeMade) {
  scripted_.faults = GetParam().faults;
  char* texts[] = {const_cast<char*>("-Dx=1"), const_cast<char*>("-Xfoo")};
  EXPECT_EQ(NewJavaStringArray(Env(), texts, 2), nullptr);
  EXPECT_EQ(reports, GetParam().reported);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StringArrayFailures,
    testing::Values(ArrayCase{"StringClassMissing",
                              {{"FindClass java/lang/String", NullAndThrows}},
                              {"error: Error instantiating object: java/lang/String[]"}},
                    ArrayCase{"ArrayNotMade", {{"NewObjectArray", Null}}, {"error: Error instantiating object: java/lang/String[]"}},
                    ArrayCase{"ElementNotMade", {{"NewString -Xfoo", Null}}, {"error: Error instantiating object: java/lang/String"}},
                    // The element that cannot be stored is named by its own text.
                    ArrayCase{"ElementNotStored",
                              {{"SetObjectArrayElement 1", Throws}},
                              {"error: Error assigning string argument: -Xfoo"}}),
    [](const testing::TestParamInfo<ArrayCase>& info) { return std::string(info.param.name); });

TEST_F(JniCalls, StringArrayHoldsTheTextsInOrder) {
  char* texts[] = {const_cast<char*>("a"), const_cast<char*>(""), const_cast<char*>("two words")};
  jobjectArray array = NewJavaStringArray(Env(), texts, 3);
  ASSERT_NE(array, nullptr);
  std::vector<std::string> elements;
  for (jobject element : scripted_.arrays.at(0)) elements.push_back(scripted_.Text(element));
  EXPECT_EQ(elements, (std::vector<std::string>{"a", "", "two words"}));
  EXPECT_TRUE(reports.empty());
}

struct MainCase {
  const char* name;
  std::vector<std::pair<std::string, Fault>> faults;
  std::vector<std::string> reported;
};

class CallMainFailures : public JniCalls, public testing::WithParamInterface<MainCase> {};

TEST_P(CallMainFailures, AreReportedWithTheOutputOnce) {
  scripted_.faults = GetParam().faults;
  char* args[] = {const_cast<char*>("x")};
  EXPECT_EQ(CallMain(Env(), "corvane/test/App", args, 1), GetParam().reported.empty());
  EXPECT_EQ(reports, GetParam().reported);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, CallMainFailures,
    testing::Values(MainCase{"Returns", {}, {}},
                    MainCase{"ClassMissing",
                             {{"FindClass corvane/test/App", NullAndThrows}},
                             {"with output: Error locating class: corvane/test/App"}},
                    MainCase{"MainMissing",
                             {{"GetStaticMethodID main", NullAndThrows}},
                             {"with output: Error locating method: main(java/lang/String[])"}},
                    MainCase{"ArgumentsNotMade",
                             {{"NewObjectArray", NullAndThrows}},
                             {"error: Error instantiating object: java/lang/String[]"}},
                    MainCase{"MainThrows",
                             {{"Call main", Throws}},
                             {"with output: Error invoking method: main(java/lang/String[])"}}),
    [](const testing::TestParamInfo<MainCase>& info) { return std::string(info.param.name); });

TEST_F(JniCalls, AnExceptionOutOfMainIsPrintedBeforeTheReport) {
  scripted_.faults = {{"Call main", Throws}};
  EXPECT_FALSE(CallMain(Env(), "corvane/test/App", nullptr, 0));
  // The stack trace goes to System.err first, so captured output carries it into the report.
  const auto call = std::find(scripted_.log.begin(), scripted_.log.end(), "Call main");
  ASSERT_NE(call, scripted_.log.end());
  EXPECT_EQ(*(call + 1), "ExceptionDescribe");
  EXPECT_EQ(*(call + 2), "ExceptionClear");
}

TEST_F(JniCalls, LauncherPropertiesInTheirOrderWithoutUnnamedFolders) {
  LauncherProperties values{"C:\\work", "C:\\app.exe", "C:\\roaming", nullptr, "C:\\docs", "",
                            true,       true,           "Demo",        "Demo service", false};
  ASSERT_TRUE(SetLauncherProperties(Env(), values));
  std::vector<std::string> set;
  for (const auto& [key, value] : scripted_.properties) set.push_back(key + "=" + value);
  EXPECT_EQ(set, (std::vector<std::string>{"user.dir=C:\\work", "corvane.exe.path=C:\\app.exe",
                                           "corvane.csidl.appdata=C:\\roaming", "corvane.csidl.personal=C:\\docs",
                                           "corvane.extract.path=", "corvane.appini.showconsole=true",
                                           "corvane.service.name=Demo", "corvane.service.description=Demo service",
                                           "corvane.service.starttype=1"}));
}

TEST_F(JniCalls, OnlyTheExtractPathAndConsoleFlagMayFailWithoutEndingTheRun) {
  const LauncherProperties values{"C:\\work", "C:\\app.exe", nullptr, nullptr, nullptr, "C:\\tmp",
                                  false,      false,         nullptr, nullptr, false};
  scripted_.faults = {{"NewString corvane.extract.path", Null}, {"NewString corvane.appini.showconsole", Null}};
  EXPECT_TRUE(SetLauncherProperties(Env(), values));
  EXPECT_EQ(reports.size(), 2u);
  scripted_.faults = {{"NewString corvane.exe.path", Null}};
  reports.clear();
  scripted_.properties.clear();
  EXPECT_FALSE(SetLauncherProperties(Env(), values));
  EXPECT_EQ(scripted_.properties.size(), 1u);  // user.dir only
}

struct StreamCase {
  const char* name;
  std::optional<StreamTarget> out, err;
  std::vector<std::pair<std::string, Fault>> faults;
  std::vector<std::string> files;      // FileOutputStreams opened
  std::vector<std::string> installed;  // methods called, in order
  std::vector<std::string> reported;
};

class StreamRedirection : public JniCalls, public testing::WithParamInterface<StreamCase> {};

TEST_P(StreamRedirection, InstallsWhatWasAskedAndStopsAtTheFirstFailure) {
  const StreamCase& c = GetParam();
  scripted_.faults = c.faults;
  const bool installed = RedirectStandardStreams(Env(), c.out ? &*c.out : nullptr, c.err ? &*c.err : nullptr);
  EXPECT_EQ(installed, c.reported.empty());
  EXPECT_EQ(scripted_.files, c.files);
  std::vector<std::string> methods;
  for (const auto& [method, stream] : scripted_.installed) methods.push_back(method);
  EXPECT_EQ(methods, c.installed);
  EXPECT_EQ(reports, c.reported);
}

const StreamTarget OutLog{"logs\\out.log", false};
const StreamTarget ErrLog{"logs\\err.log", true};
const StreamTarget SameAsOut{"logs\\out.log", true};

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamRedirection,
    testing::Values(
        StreamCase{"NothingAskedNothingDone", {}, {}, {{"FindClass java/lang/System", NullAndThrows}}, {}, {}, {}},
        StreamCase{"BothToTheirFiles", OutLog, ErrLog, {}, {"logs\\out.log replace", "logs\\err.log append"}, {"setOut", "setErr"}, {}},
        // One path: one file opened with System.out's flag, one stream for both.
        StreamCase{"OnePathOneStream", OutLog, SameAsOut, {}, {"logs\\out.log replace"}, {"setOut", "setErr"}, {}},
        StreamCase{"OnlyErr", {}, ErrLog, {}, {"logs\\err.log append"}, {"setErr"}, {}},
        StreamCase{"SystemMissing", OutLog, ErrLog, {{"FindClass java/lang/System", NullAndThrows}}, {}, {},
                   {"error: Error locating class: java/lang/System"}},
        StreamCase{"FileCannotBeOpened", OutLog, ErrLog, {{"NewObject FileOutputStream", NullAndThrows}},
                   {"logs\\out.log replace"}, {}, {"error: Error instantiating object: java/io/FileOutputStream"}},
        StreamCase{"FileConstructorMissing", OutLog, {}, {{"GetMethodID (Ljava/lang/String;Z)V", NullAndThrows}}, {}, {},
                   {"error: Error locating method: java/io/FileOutputStream(String, boolean)"}},
        StreamCase{"PrintStreamConstructorMissing", OutLog, {}, {{"GetMethodID (Ljava/io/OutputStream;)V", Null}},
                   {"logs\\out.log replace"}, {}, {"error: Error locating method: java/io/PrintStream(java/io/OutputStream)"}},
        StreamCase{"PrintStreamNotMade", OutLog, {}, {{"NewObject PrintStream", NullAndThrows}}, {"logs\\out.log replace"}, {},
                   {"error: Error instantiating object: java/io/PrintStream"}},
        StreamCase{"PrintStreamClassMissing", OutLog, {}, {{"FindClass java/io/PrintStream", NullAndThrows}},
                   {"logs\\out.log replace"}, {}, {"error: Error locating class: java/io/PrintStream"}},
        // A failing System.err leaves the installed System.out in place.
        StreamCase{"SetErrThrows", OutLog, ErrLog, {{"Call setErr", Throws}}, {"logs\\out.log replace", "logs\\err.log append"},
                   {"setOut", "setErr"}, {"error: Error invoking method: setErr"}},
        StreamCase{"SetOutMissing", OutLog, ErrLog, {{"GetStaticMethodID setOut", Null}}, {"logs\\out.log replace"}, {},
                   {"error: Error locating method: setOut"}}),
    [](const testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

// main's arguments: static tokens first; given arguments as they are; AppOptions only for none.
struct ArgumentCase {
  const char* name;
  const char* statics;
  const char* appOptions;
  std::vector<std::string> given;
  std::vector<std::string> expected;
};

char* ExpandPercent(const char* token) {
  std::string text = token;
  const size_t at = text.find("%V%");
  if (at == std::string::npos) return nullptr;
  text.replace(at, 3, "value");
  return CopyText(text.c_str());
}

class MainArgumentAssembly : public testing::TestWithParam<ArgumentCase> {};

TEST_P(MainArgumentAssembly, GivesStaticTokensThenArguments) {
  const ArgumentCase& c = GetParam();
  std::vector<char*> given;
  for (const std::string& g : c.given) given.push_back(const_cast<char*>(g.c_str()));
  ArgumentList arguments;
  ASSERT_TRUE(AssembleMainArguments(c.statics, c.appOptions, static_cast<int>(given.size()), given.data(),
                                    ExpandPercent, &arguments));
  std::vector<std::string> got(arguments.items, arguments.items + arguments.count);
  EXPECT_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MainArgumentAssembly,
    testing::Values(
        ArgumentCase{"GivenArgumentsAreNeverExpanded", "-s %V%", "-app", {"%V%", "two words"}, {"-s", "value", "%V%", "two words"}},
        ArgumentCase{"AppOptionsStandInForNoArguments", "-s", "x:%V% \"two words\"", {}, {"-s", "x:value", "two words"}},
        ArgumentCase{"EmptyGivenArgumentIsKept", "", "-app", {""}, {""}},
        ArgumentCase{"NothingAtAll", "", "", {}, {}},
        ArgumentCase{"OnlyStaticTokens", "\"-a b\" -c", "", {}, {"-a b", "-c"}}),
    [](const testing::TestParamInfo<ArgumentCase>& info) { return std::string(info.param.name); });

}  // namespace
