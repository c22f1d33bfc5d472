// The standard streams of the application: the console, log files, or the capture pipe whose
// output error reports show.
#pragma once

// Sets up System.out and System.err for a run that created the VM, as StdOutMode, StdErrMode and
// ShowConsole ask. False after a reported failure.
bool PrepareStandardStreams();
