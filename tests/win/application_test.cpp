// An attached run (second instance, service stop call) against a scripted VM: it attaches as
// "Corvane thread" and detaches again on every road, so that DestroyJavaVM never waits for a
// thread that has gone.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/application.h"
#include "app/shutdown.h"
#include "base/launch_config.h"
#include "base/setting_table.h"
#include "base/text.h"
#include "fake_screen.h"
#include "runtime/jvm_win.h"

// The two exports the launcher checks for, so that this test program can stand in for jvm.dll
// (jni.h declares them as imports; here they are defined and exported instead).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
extern "C" __declspec(dllexport) jint JNICALL JNI_CreateJavaVM(JavaVM**, void**, void*) { return JNI_ERR; }
extern "C" __declspec(dllexport) jint JNICALL JNI_GetDefaultJavaVMInitArgs(void*) { return JNI_ERR; }
#pragma GCC diagnostic pop

namespace {

// What the scripted VM saw, and what it is told to do.
struct Script {
  jint attachResult = JNI_OK;
  std::string missingClass;  // FindClass of this name answers null
  int attaches = 0;
  int detaches = 0;
  JavaVMAttachArgs attachArgs{};
  std::string attachName;
  int mainCalls = 0;
};
Script script;
JNIEnv scriptedEnv{};

jint JNICALL Attach(JavaVM*, void** env, void* args) {
  ++script.attaches;
  script.attachArgs = *static_cast<JavaVMAttachArgs*>(args);
  script.attachName = script.attachArgs.name != nullptr ? script.attachArgs.name : "";
  *env = &scriptedEnv;
  return script.attachResult;
}
jint JNICALL Detach(JavaVM*) {
  ++script.detaches;
  return JNI_OK;
}
jclass JNICALL FindClass(JNIEnv*, const char* name) {
  return script.missingClass == name ? nullptr : reinterpret_cast<jclass>(0x10);
}
jmethodID JNICALL GetStaticMethodID(JNIEnv*, jclass, const char*, const char*) {
  return reinterpret_cast<jmethodID>(0x20);
}
jstring JNICALL NewString(JNIEnv*, const jchar*, jsize) { return reinterpret_cast<jstring>(0x30); }
jobjectArray JNICALL NewObjectArray(JNIEnv*, jsize, jclass, jobject) { return reinterpret_cast<jobjectArray>(0x40); }
void JNICALL SetObjectArrayElement(JNIEnv*, jobjectArray, jsize, jobject) {}
jobject JNICALL CallStaticObjectMethodV(JNIEnv*, jclass, jmethodID, va_list) { return nullptr; }
void JNICALL CallStaticVoidMethodV(JNIEnv*, jclass, jmethodID, va_list) { ++script.mainCalls; }
jboolean JNICALL ExceptionCheck(JNIEnv*) { return JNI_FALSE; }

struct AttachedCase {
  const char* name;
  jint attachResult;
  const char* missingClass;
  bool jniExports;
  bool succeeds;
  int detaches;
  const char* shown;  // "" for no report
};

class ScriptedVmTest : public testing::Test {
 protected:
  void SetUp() override {
    script = Script{};
    invoke_.AttachCurrentThread = Attach;
    invoke_.DetachCurrentThread = Detach;
    vm_.functions = &invoke_;
    functions_.FindClass = FindClass;
    functions_.GetStaticMethodID = GetStaticMethodID;
    functions_.NewString = NewString;
    functions_.NewObjectArray = NewObjectArray;
    functions_.SetObjectArrayElement = SetObjectArrayElement;
    functions_.CallStaticObjectMethodV = CallStaticObjectMethodV;
    functions_.CallStaticVoidMethodV = CallStaticVoidMethodV;
    functions_.ExceptionCheck = ExceptionCheck;
    scriptedEnv.functions = &functions_;
    JavaVm = &vm_;
    MainEnv = nullptr;
    const std::pair<int, const char*> messages[] = {{MessageJniInterfaces, "Unable to locate JNI interfaces in %s"},
                                                    {MessageAttach, "Unable to attach thread to the JVM."},
                                                    {MessageClass, "Error locating class: %s"}};
    for (const auto& [id, text] : messages) SetMessage(id, CopyText(text));
    savedMainClass_ = EditLaunchConfig().MainClass;
    EditLaunchConfig().MainClass = CopyText("corvane/test/App");
    std::strcpy(JvmDllPath, "C:\\runtime\\bin\\server\\jvm.dll");
    ScreenRecords().clear();
  }
  void TearDown() override {
    JavaVm = nullptr;
    JvmModule->Release();  // a module of this process, never unloaded
    std::free(EditLaunchConfig().MainClass);
    EditLaunchConfig().MainClass = savedMainClass_;
    JvmDllPath[0] = '\0';
    ScreenRecords().clear();
  }

  JNIInvokeInterface_ invoke_{};
  JavaVM vm_{};
  JNINativeInterface_ functions_{};
  char* savedMainClass_ = nullptr;
};

class AttachedRun : public ScriptedVmTest, public testing::WithParamInterface<AttachedCase> {};

TEST_P(AttachedRun, DetachesOnEveryRoadItAttached) {
  const AttachedCase& c = GetParam();
  script.attachResult = c.attachResult;
  script.missingClass = c.missingClass;
  JvmModule->Reset(c.jniExports ? GetModuleHandleA(nullptr) : GetModuleHandleA("kernel32"));
  char first[] = "stop";
  char* args[] = {first};

  EXPECT_EQ(RunApplication(1, args, true), c.succeeds);
  EXPECT_EQ(script.attaches, 1);
  EXPECT_EQ(script.attachArgs.version, JNI_VERSION_1_2);
  EXPECT_EQ(script.attachName, "Corvane thread");
  EXPECT_EQ(script.attachArgs.group, nullptr);
  EXPECT_EQ(script.detaches, c.detaches);
  EXPECT_EQ(script.mainCalls, c.succeeds ? 1 : 0);
  if (c.shown[0] == '\0') {
    EXPECT_TRUE(ScreenRecords().empty());
  } else {
    ASSERT_EQ(ScreenRecords().size(), 1u);
    EXPECT_EQ(ScreenRecords()[0].text, c.shown);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Roads, AttachedRun,
    testing::Values(
        AttachedCase{"MainReturns", JNI_OK, "", true, true, 1, ""},
        AttachedCase{"MainClassMissing", JNI_OK, "corvane/test/App", true, false, 1,
                     "Error locating class: corvane/test/App"},
        AttachedCase{"ExportsGone", JNI_OK, "", false, false, 1,
                     "Unable to locate JNI interfaces in C:\\runtime\\bin\\server\\jvm.dll"},
        // A thread that never attached has nothing to detach.
        AttachedCase{"AttachRefused", JNI_ERR, "", true, false, 0, "Unable to attach thread to the JVM."}),
    [](const testing::TestParamInfo<AttachedCase>& info) { return std::string(info.param.name); });

// The stopper calls System.exit(0) on a thread of its own; when the call comes back (the exit hook
// did not end the process) it still detaches.
struct StopperCase {
  const char* name;
  jint attachResult;
  bool systemMissing;
  bool succeeds;
  int detaches;
  const char* shown;  // "" for no report
};

class StopperRun : public ScriptedVmTest, public testing::WithParamInterface<StopperCase> {};

TEST_P(StopperRun, DetachesOnEveryRoadItAttached) {
  const StopperCase& c = GetParam();
  script.attachResult = c.attachResult;
  script.missingClass = c.systemMissing ? "java/lang/System" : "";
  // As the service's stop worker does it: attach, stop, detach.
  JNIEnv* env = AttachLauncherThread(StopperThreadName);
  const bool stopped = env != nullptr && StopApplication(env);
  if (env != nullptr) DetachLauncherThread();
  EXPECT_EQ(stopped, c.succeeds);
  EXPECT_EQ(script.attachName, "Corvane stopper thread");
  EXPECT_EQ(script.detaches, c.detaches);
  EXPECT_EQ(script.mainCalls, c.succeeds ? 1 : 0);  // System.exit was called
  if (c.shown[0] == '\0') {
    EXPECT_TRUE(ScreenRecords().empty());
  } else {
    ASSERT_EQ(ScreenRecords().size(), 1u);
    EXPECT_EQ(ScreenRecords()[0].text, c.shown);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Roads, StopperRun,
    testing::Values(StopperCase{"ExitReturns", JNI_OK, false, true, 1, ""},
                    StopperCase{"SystemMissing", JNI_OK, true, false, 1, "Error locating class: java/lang/System"},
                    StopperCase{"AttachRefused", JNI_ERR, false, false, 0, "Unable to attach thread to the JVM."}),
    [](const testing::TestParamInfo<StopperCase>& info) { return std::string(info.param.name); });

}  // namespace
