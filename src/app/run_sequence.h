// What a run does in the JVM once its thread has an env: the launcher's system properties in their
// order, and main with the static options before the arguments. Portable, so that the contract
// tests drive the same sequence against HotSpot on Linux.
#pragma once

#include <jni.h>

#include "base/text.h"

// The values of the launcher's system properties. A null folder is left out (the shell could not
// name it); the service properties are set only in service mode.
struct LauncherProperties {
  const char* userDir;
  const char* exePath;
  const char* appData;
  const char* localAppData;
  const char* personal;
  const char* extractPath;
  bool showConsole;
  bool serviceMode;
  const char* serviceName;
  const char* serviceDescription;
  bool serviceManualStart;
};

// Sets every property in order. A failure is reported by SetSystemProperty; it ends the run except
// for the extract path and the console flag, which the application can do without.
bool SetLauncherProperties(JNIEnv* env, const LauncherProperties& values);

// Expands the variables of one option token: a malloc'd text, or null to keep the token as it is.
using ExpandToken = char* (*)(const char* token);

// The arguments of main: the static option tokens (expanded), then `args` exactly as given, or the
// expanded AppOptions tokens when there are no arguments. Null and 0 when memory runs out.
bool AssembleMainArguments(const char* staticOptions, const char* appOptions, int count, char* const* args,
                           ExpandToken expand, ArgumentList* out);

// AssembleMainArguments, then CallMain. True when main returned without an exception.
bool RunMain(JNIEnv* env, const char* mainClass, const char* staticOptions, const char* appOptions, int count,
             char* const* args, ExpandToken expand);
