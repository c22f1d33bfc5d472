// Setting up System.out and System.err before main: the console, log files, then the capture pipe.
#include "app/streams.h"

#include "app/stream_calls.h"
#include "base/launch_config.h"
#include "base/text.h"
#include "base/variables.h"
#include "runtime/jvm_win.h"
#include "ui/captured_output_win.h"
#include "ui/report_win.h"

namespace {

bool RedirectLogFiles() {
  const LaunchConfigRecord& c = LaunchConfig;
  const bool outToFile = c.StdOutMode == StreamFile, errToFile = c.StdErrMode == StreamFile;
  if (!outToFile && !errToFile) return true;
  HeapText outPath(outToFile ? PrepareOutputPath(c.StdOutFile) : nullptr);
  HeapText errPath(errToFile ? PrepareOutputPath(c.StdErrFile) : nullptr);
  if ((outToFile && !outPath) || (errToFile && !errPath)) {
    ReportError(Message(MessageFileWrite), outToFile && !outPath ? c.StdOutFile : c.StdErrFile);
    return false;
  }
  const StreamTarget out{outPath.get(), c.StdOutFileAppend}, err{errPath.get(), c.StdErrFileAppend};
  return RedirectStandardStreams(MainEnv, outToFile ? &out : nullptr, errToFile ? &err : nullptr);
}

// The capture pipe and the streams on it; any failure here only means going on without capture.
void RedirectToCapture() {
  const LaunchConfigRecord& c = LaunchConfig;
  if (c.StdOutMode != StreamCapture && c.StdErrMode != StreamCapture) return;
  char name[32];
  if (!CreateCapturePipe(name, sizeof(name))) {
    CaptureGivenUp = true;
    return;
  }
  const StreamTarget out{name, c.StdOutFileAppend}, err{name, c.StdErrFileAppend};
  errorReportsEnabled = false;
  const bool redirected = RedirectStandardStreams(MainEnv, c.StdOutMode == StreamCapture ? &out : nullptr,
                                                  c.StdErrMode == StreamCapture ? &err : nullptr);
  errorReportsEnabled = true;
  if (!redirected) {
    StopCapture();
    CaptureGivenUp = true;
  }
}

}  // namespace

bool PrepareStandardStreams() {
  const LaunchConfigRecord& c = LaunchConfig;
  if (OpensOwnConsole()) {
    // StartJvm opened the console for this case.
    const StreamTarget out{"CONOUT$", c.StdOutFileAppend}, err{"CONOUT$", c.StdErrFileAppend};
    if (!RedirectStandardStreams(MainEnv, &out, &err)) return false;
  }
  if (!RedirectLogFiles()) return false;
  RedirectToCapture();
  if (CaptureGivenUp || (c.StdOutMode != StreamCapture && c.StdErrMode != StreamCapture)) return true;
  if (!StartCaptureReader()) {
    ReportLastError("Internal error RC000015");
    return false;
  }
  return true;
}
