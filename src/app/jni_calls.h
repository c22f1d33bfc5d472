// The launcher's side of the Java Native Interface: one rule for judging every JNI step, Java
// strings and string arrays from launcher text, system properties, and the call of main. Portable:
// the same code runs in the launcher and, on Linux, against the real HotSpot VM in the contract
// tests. Every failure is reported once, here, with messages 9 to 13; callers only pass it on.
#pragma once

#include <jni.h>

// JNI_VERSION_1_2, for the VM's init arguments and every attach.
constexpr jint LauncherJniVersion = JNI_VERSION_1_2;

// True when an exception is pending: it is described (printed on System.err as it stands) and
// cleared, so the VM stays usable for the reports that follow.
bool CheckJavaException(JNIEnv* env);

// The one failure rule of every JNI step: it failed when an exception followed it (described and
// cleared first, always) or when it gave no reference.
bool JniStepFailed(JNIEnv* env, const void* result);

// A Java string of launcher text (the system's ANSI code page), or null after a failure the caller
// reports. An empty text gives an empty string.
jstring NewJavaString(JNIEnv* env, const char* text);

// A java.lang.String[] of the texts in order, or null after a reported failure (message 11 or 12).
jobjectArray NewJavaStringArray(JNIEnv* env, char* const* texts, int count);

// System.setProperty(key, value); false after a reported failure (messages 9 to 13).
bool SetSystemProperty(JNIEnv* env, const char* key, const char* value);

// Finds `mainClass` (slash form) and its main(String[]), builds the argument array and calls main.
// True when main returned without an exception. Failures are reported: the class and method with
// ReportErrorWithOutput (messages 9 and 10), the array by NewJavaStringArray, an exception out of
// main with ReportErrorWithOutput (message 13) after its stack trace has been printed.
bool CallMain(JNIEnv* env, const char* mainClass, char* const* args, int count);

// How a call of the second-start method went.
enum class SecondStartCall { Called, Threw, NoMethod, Failed };
// The signature of that method: static void NAME(String[] args, String folder).
constexpr char SecondStartSignature[] = "([Ljava/lang/String;Ljava/lang/String;)V";

// Calls the static method `method` of `mainClass` with a second start's arguments and folder. An
// exception out of it is described on System.err and cleared (Threw); a class or method that is not
// there is cleared without a word (NoMethod: the caller says it once). Failed after a reported
// failure to make the arguments.
SecondStartCall CallSecondStartMethod(JNIEnv* env, const char* mainClass, const char* method, char* const* args,
                                      int count, const char* folder);

// --- Platform: launcher text to UTF-16 (ansi_text_win.cpp: the ANSI code page) ---

// A malloc'd UTF-16 copy of `text` and its length in units (without a terminator), or null when
// the text cannot be converted or memory runs out.
jchar* AnsiToUtf16(const char* text, jsize* length);
