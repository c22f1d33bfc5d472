#include "app/jni_calls.h"

#include <cstdlib>

#include "base/launch_config.h"
#include "base/trace.h"
#include "ui/report_api.h"

namespace {

constexpr char StringClass[] = "java/lang/String";
constexpr char MainMethod[] = "main(java/lang/String[])";

}  // namespace

bool JniStepFailed(JNIEnv* env, const void* result) {
  const bool exception = CheckJavaException(env);
  return exception || result == nullptr;
}

bool CheckJavaException(JNIEnv* env) {
  if (env->ExceptionCheck() != JNI_TRUE) return false;
  env->ExceptionDescribe();
  env->ExceptionClear();
  return true;
}

jstring NewJavaString(JNIEnv* env, const char* text) {
  jsize length = 0;
  jchar* units = AnsiToUtf16(text != nullptr ? text : "", &length);
  if (units == nullptr) return nullptr;
  jstring result = env->NewString(units, length);
  std::free(units);
  return result;
}

jobjectArray NewJavaStringArray(JNIEnv* env, char* const* texts, int count) {
  jclass stringClass = env->FindClass(StringClass);
  jobjectArray array = nullptr;
  if (!JniStepFailed(env, stringClass)) {
    array = env->NewObjectArray(count, stringClass, nullptr);
    if (JniStepFailed(env, array)) array = nullptr;
  }
  if (array == nullptr) {
    ReportError(Message(MessageObject), "java/lang/String[]");
    return nullptr;
  }
  for (int i = 0; i < count; ++i) {
    jstring element = NewJavaString(env, texts[i]);
    if (JniStepFailed(env, element)) {
      ReportError(Message(MessageObject), StringClass);
      return nullptr;
    }
    env->SetObjectArrayElement(array, i, element);
    if (CheckJavaException(env)) {
      ReportError(Message(MessageStringArgument), texts[i]);
      return nullptr;
    }
  }
  return array;
}

bool SetSystemProperty(JNIEnv* env, const char* key, const char* value) {
  jstring javaKey = NewJavaString(env, key);
  if (JniStepFailed(env, javaKey)) {
    ReportError(Message(MessageObject), StringClass);
    return false;
  }
  jstring javaValue = NewJavaString(env, value);
  if (JniStepFailed(env, javaValue)) {
    ReportError(Message(MessageObject), StringClass);
    return false;
  }
  jclass system = env->FindClass("java/lang/System");
  if (JniStepFailed(env, system)) {
    ReportError(Message(MessageClass), "java/lang/System");
    return false;
  }
  jmethodID setProperty =
      env->GetStaticMethodID(system, "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;");
  if (JniStepFailed(env, setProperty)) {
    ReportError(Message(MessageMethod), "setProperty");
    return false;
  }
  // The previous value is not needed.
  env->CallStaticObjectMethod(system, setProperty, javaKey, javaValue);
  if (CheckJavaException(env)) {
    ReportError(Message(MessageInvoke), "setProperty");
    return false;
  }
  return true;
}

bool CallMain(JNIEnv* env, const char* mainClass, char* const* args, int count) {
  jclass application = env->FindClass(mainClass);
  if (JniStepFailed(env, application)) {
    ReportErrorWithOutput(Message(MessageClass), mainClass);
    return false;
  }
  jmethodID main = env->GetStaticMethodID(application, "main", "([Ljava/lang/String;)V");
  if (JniStepFailed(env, main)) {
    ReportErrorWithOutput(Message(MessageMethod), MainMethod);
    return false;
  }
  jobjectArray arguments = NewJavaStringArray(env, args, count);
  if (arguments == nullptr) return false;
  Trace({"main called: ", mainClass});
  env->CallStaticVoidMethod(application, main, arguments);
  // The stack trace has been printed on System.err by now, so captured output carries it.
  if (CheckJavaException(env)) {
    Trace({"main ended by an exception"});
    ReportErrorWithOutput(Message(MessageInvoke), MainMethod);
    return false;
  }
  Trace({"main returned"});
  return true;
}

SecondStartCall CallSecondStartMethod(JNIEnv* env, const char* mainClass, const char* method, char* const* args,
                                      int count, const char* folder) {
  jclass application = env->FindClass(mainClass);
  jmethodID handler = application != nullptr ? env->GetStaticMethodID(application, method, SecondStartSignature) : nullptr;
  if (handler == nullptr) {
    // NoClassDefFoundError or NoSuchMethodError: an application without the method is no fault to describe.
    env->ExceptionClear();
    return SecondStartCall::NoMethod;
  }
  jobjectArray arguments = NewJavaStringArray(env, args, count);
  if (arguments == nullptr) return SecondStartCall::Failed;
  jstring javaFolder = NewJavaString(env, folder);
  if (JniStepFailed(env, javaFolder)) {
    ReportError(Message(MessageObject), StringClass);
    return SecondStartCall::Failed;
  }
  env->CallStaticVoidMethod(application, handler, arguments, javaFolder);
  return CheckJavaException(env) ? SecondStartCall::Threw : SecondStartCall::Called;
}
