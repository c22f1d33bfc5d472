#include "app/stream_calls.h"

#include <cstring>

#include "app/jni_calls.h"
#include "base/launch_config.h"
#include "ui/report_api.h"

namespace {

constexpr char FileStreamClass[] = "java/io/FileOutputStream";
constexpr char PrintStreamClass[] = "java/io/PrintStream";

}  // namespace

jobject OpenLogPrintStream(JNIEnv* env, const char* path, bool append) {
  jstring javaPath = NewJavaString(env, path);
  if (JniStepFailed(env, javaPath)) {
    ReportError(Message(MessageObject), "java/lang/String");
    return nullptr;
  }
  jclass fileClass = env->FindClass(FileStreamClass);
  if (JniStepFailed(env, fileClass)) {
    ReportError(Message(MessageClass), FileStreamClass);
    return nullptr;
  }
  jmethodID fileInit = env->GetMethodID(fileClass, "<init>", "(Ljava/lang/String;Z)V");
  if (JniStepFailed(env, fileInit)) {
    ReportError(Message(MessageMethod), "java/io/FileOutputStream(String, boolean)");
    return nullptr;
  }
  jobject file = env->NewObject(fileClass, fileInit, javaPath, static_cast<jboolean>(append ? JNI_TRUE : JNI_FALSE));
  if (JniStepFailed(env, file)) {
    ReportError(Message(MessageObject), FileStreamClass);
    return nullptr;
  }
  jclass printClass = env->FindClass(PrintStreamClass);
  if (JniStepFailed(env, printClass)) {
    ReportError(Message(MessageClass), PrintStreamClass);
    return nullptr;
  }
  jmethodID printInit = env->GetMethodID(printClass, "<init>", "(Ljava/io/OutputStream;)V");
  if (JniStepFailed(env, printInit)) {
    ReportError(Message(MessageMethod), "java/io/PrintStream(java/io/OutputStream)");
    return nullptr;
  }
  jobject print = env->NewObject(printClass, printInit, file);
  if (JniStepFailed(env, print)) {
    ReportError(Message(MessageObject), PrintStreamClass);
    return nullptr;
  }
  return print;
}

bool SetSystemStream(JNIEnv* env, jclass system, jobject stream, const char* method) {
  jmethodID set = env->GetStaticMethodID(system, method, "(Ljava/io/PrintStream;)V");
  if (JniStepFailed(env, set)) {
    ReportError(Message(MessageMethod), method);
    return false;
  }
  env->CallStaticVoidMethod(system, set, stream);
  if (CheckJavaException(env)) {
    ReportError(Message(MessageInvoke), method);
    return false;
  }
  return true;
}

bool RedirectStandardStreams(JNIEnv* env, const StreamTarget* out, const StreamTarget* err) {
  if (out == nullptr && err == nullptr) return true;
  jclass system = env->FindClass("java/lang/System");
  if (JniStepFailed(env, system)) {
    ReportError(Message(MessageClass), "java/lang/System");
    return false;
  }
  jobject outStream = nullptr;
  if (out != nullptr) {
    outStream = OpenLogPrintStream(env, out->path, out->append);
    if (outStream == nullptr || !SetSystemStream(env, system, outStream, "setOut")) return false;
  }
  if (err == nullptr) return true;
  // One path, one file: both streams share a PrintStream, so their lines stay in write order.
  if (outStream != nullptr && std::strcmp(out->path, err->path) == 0) {
    return SetSystemStream(env, system, outStream, "setErr");
  }
  jobject errStream = OpenLogPrintStream(env, err->path, err->append);
  return errStream != nullptr && SetSystemStream(env, system, errStream, "setErr");
}
