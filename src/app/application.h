// Running the application's main method in the JVM.
#pragma once

// Prepares the thread and streams, sets the launcher's system properties and calls main with the
// static options followed by `args`. attachMode: attach this thread to the running JVM first.
// True when main returned without an exception; false after a reported failure.
bool RunApplication(int count, char** args, bool attachMode);
