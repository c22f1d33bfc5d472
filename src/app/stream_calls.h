// Replacing System.out and System.err by PrintStreams over FileOutputStreams made through JNI: log
// files, the console device or the capture pipe. Portable, like the rest of the call layer.
#pragma once

#include <jni.h>

// One stream's target: an ANSI path and whether to append to it.
struct StreamTarget {
  const char* path;
  bool append;
};

// A new PrintStream over a FileOutputStream of `path`, or null after a report (messages 9 to 11).
jobject OpenLogPrintStream(JNIEnv* env, const char* path, bool append);

// System.setOut or System.setErr (`method`) with `stream`; false after a report (10 or 13).
bool SetSystemStream(JNIEnv* env, jclass system, jobject stream, const char* method);

// Installs the streams that have a target (null: left alone). When both name the same path, one
// stream serves both, opened with System.out's append flag. True when every requested stream was
// installed; stops at the first failure, which has been reported.
bool RedirectStandardStreams(JNIEnv* env, const StreamTarget* out, const StreamTarget* err);
