// The launcher as a Windows service under Wine's own Service Control Manager: installed with its
// install switch, started and stopped with `net`, observed through `sc query`, the application's
// log file and the event-log texts that Wine traces (WINEDEBUG=+eventlog) on the service's standard
// error. The Wine server of the group is started here, by the first `net start`, so that the
// service manager and the services it starts carry that trace into a file of the test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "java_app_support.h"

namespace {

using namespace corvane::test;

class ServiceRun : public JavaAppTest {
 protected:
  void TearDown() override {
    if (!service_.empty()) Wine("sc stop " + service_ + " ; wine sc delete " + service_, "/dev/null");
  }

  // Runs `wine <command>` in the group's prefix, standard output and error appended to `output`.
  static int Wine(const std::string& command, const std::string& output) {
    const std::string line = "cd / && WINEPREFIX='" + Session().Prefix() + "' DISPLAY='" + Session().Display() +
                             "' LANG=C.UTF-8 WINEDEBUG=+eventlog WINEDLLOVERRIDES='mscoree,mshtml=' wine " + command +
                             " >>'" + output + "' 2>&1";
    return std::system(line.c_str());
  }

  // The service's state word from `sc query` ("RUNNING", "STOPPED", ...), or "" when unknown.
  std::string State() {
    const std::string file = (folder_ / "query.txt").string();
    fs::remove(file);
    Wine("sc query " + service_, file);
    const std::string text = ReadAll(file);
    for (const char* state : {"STOP_PENDING", "START_PENDING", "RUNNING", "STOPPED"}) {
      if (text.find(state) != std::string::npos) return state;
    }
    return "";
  }

  // Polls (bounded) until `done` holds; false when it never does.
  template <typename Condition>
  static bool Await(Condition done, int seconds = 60) {
    for (int i = 0; i < seconds * 5; ++i) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return done();
  }

  // Installs the scenario's launcher as `service` with the fake runtime beside it.
  AppFolder Install(const std::string& scenario, const std::string& service) {
    AppFolder app = MakeAppFolder(scenario);
    folder_ = app.folder;
    trace_ = (app.folder / "trace.txt").string();
    RunApp(app, "-uninstall");  // a left-over of an earlier run of the group goes first
    const RunResult installed = RunApp(app, "-install");
    EXPECT_EQ(Shown(installed), std::vector<std::string>{"Information: Service installed: " + service});
    service_ = service;
    // The next wine command starts the server, and with it the service manager, with the trace on.
    std::system(("WINEPREFIX='" + Session().Prefix() + "' wineserver -k 2>/dev/null").c_str());
    return app;
  }

  // Event-log texts the service wrote, in order.
  std::vector<std::string> Events() const {
    std::vector<std::string> events;
    const std::string trace = ReadAll(trace_);
    for (size_t at = trace.find("ReportEventW"); at != std::string::npos; at = trace.find("ReportEventW", at + 1)) {
      const size_t open = trace.find("L\"", at), end = trace.find('\n', at);
      if (open == std::string::npos || open > end) continue;
      const size_t close = trace.rfind('"', end);
      if (close != std::string::npos && close > open + 2) events.push_back(trace.substr(open + 2, close - open - 2));
    }
    return events;
  }

  std::vector<std::string> Log(const AppFolder& app) const { return Lines(ReadAll(app.folder / "service.log")); }

  // Starts the installed service and waits until its log holds `line`.
  void StartUntilLogged(const AppFolder& app, const std::string& line) {
    Wine("net start " + service_, trace_);
    ASSERT_TRUE(Await([&] { return Has(Log(app), line); })) << ReadAll(trace_);
  }

  // Stops the service and waits until the service manager says it has stopped.
  void StopUntilStopped(int seconds = 60) {
    Wine("net stop " + service_, trace_);
    ASSERT_TRUE(Await([&] { return State() == "STOPPED"; }, seconds)) << ReadAll(trace_);
  }

  bool EventSeen(const std::string& text) const {
    const std::vector<std::string> events = Events();
    return std::find(events.begin(), events.end(), text) != events.end();
  }

  std::string service_;
  fs::path folder_;
  std::string trace_;
};

TEST_F(ServiceRun, StartsMainWithTheServiceArgumentsAndStopsThroughASecondMain) {
  const AppFolder app = Install("java-service", "CorvaneJavaService");
  Wine("net start CorvaneJavaService", trace_);
  ASSERT_TRUE(Await([&] { return State() == "RUNNING"; })) << ReadAll(trace_);
  ASSERT_TRUE(Await([&] { return Has(Log(app), "out started"); }))
      << ReadAll(app.folder / "service.log");
  EXPECT_TRUE(Await([&] { return EventSeen("The CorvaneJavaService service has started."); })) << ReadAll(trace_);
  // KeepStartDir is cleared for a service: main runs in the launcher's folder.
  EXPECT_TRUE(Has(Log(app), "prop user.dir=" + WindowsPath(app.folder.string())))
      << ReadAll(app.folder / "service.log");

  StopUntilStopped();
  EXPECT_TRUE(Await([&] { return EventSeen("The CorvaneJavaService service has stopped."); })) << ReadAll(trace_);
  // The stop call ran main a second time; the first call then ended by itself.
  const std::vector<std::string> log = Log(app);
  EXPECT_TRUE(Has(log, "stop requested") && Has(log, "stopped") && Has(log, "out main-ends"))
      << ReadAll(app.folder / "service.log");
  // Every report went to the event log: no box was ever shown by the service.
  EXPECT_EQ(Events(), (std::vector<std::string>{"The CorvaneJavaService service has started.",
                                                "The CorvaneJavaService service has stopped."}));
}

TEST_F(ServiceRun, TheInstallCommandLineNamesDescribesAndSetsTheStartType) {
  AppFolder app = MakeAppFolder("java-service-named-on-install");
  folder_ = app.folder;
  RunApp(app, "-uninstall CorvaneFromTheLine");
  const RunResult installed = RunApp(app, "-install CorvaneFromTheLine \"Two words\" 0");
  EXPECT_EQ(Shown(installed), std::vector<std::string>{"Information: Service installed: CorvaneFromTheLine"});
  service_ = "CorvaneFromTheLine";
  const std::string config = (app.folder / "qc.txt").string();
  // Wine's sc has no "qc": the service manager's own key says the same.
  Wine("reg query 'HKLM\\SYSTEM\\CurrentControlSet\\Services\\CorvaneFromTheLine'", config);
  const std::string text = ReadAll(config);
  EXPECT_NE(text.find("Start    REG_DWORD    0x3"), std::string::npos) << text;  // on demand
  EXPECT_NE(text.find("\"" + app.launcher + "\" -startlauncherinservicemode \"CorvaneFromTheLine\" \"Two words\" 0"),
            std::string::npos)
      << text;
  const RunResult removed = RunApp(app, "-uninstall CorvaneFromTheLine");
  EXPECT_EQ(Shown(removed), std::vector<std::string>{"Information: Service uninstalled: CorvaneFromTheLine"});
  service_.clear();
}

TEST_F(ServiceRun, AStopBeforeTheVmExistsWaitsForIt) {
  const AppFolder app = Install("java-service-slow-start", "CorvaneSlowService");
  Wine("net start CorvaneSlowService", trace_);
  ASSERT_TRUE(Await([&] { return EventSeen("The CorvaneSlowService service has started."); })) << ReadAll(trace_);
  // The VM takes four seconds to start; the stop comes before it exists.
  StopUntilStopped();
  EXPECT_TRUE(Await([&] { return Events().size() >= 2; })) << ReadAll(trace_);
  // No attach to a VM that was not there: the stop call ran once the VM existed.
  EXPECT_EQ(Events(), (std::vector<std::string>{"The CorvaneSlowService service has started.",
                                                "The CorvaneSlowService service has stopped."}));
  const std::vector<std::string> log = Log(app);
  EXPECT_TRUE(Has(log, "stop requested") && Has(log, "out main-ends")) << ReadAll(app.folder / "service.log");
}

TEST_F(ServiceRun, StopByExitRunsTheShutdownHooksAndReportsTheStop) {
  const AppFolder app = Install("java-service-exit", "CorvaneExitService");
  StartUntilLogged(app, "out started");
  StopUntilStopped();
  EXPECT_TRUE(Await([&] { return EventSeen("The CorvaneExitService service has stopped."); })) << ReadAll(trace_);
  EXPECT_TRUE(Has(Log(app), "hook shutdown-hook"))
      << ReadAll(app.folder / "service.log");
}

// One start shows two things: the reports of a service start reach the event log from the first
// one on (a box would keep the service from ever starting), and a stop call may wait for the first
// main to end.
TEST_F(ServiceRun, ReportsGoToTheEventLogFromTheFirstAndAStopCallMayWaitForMain) {
  const AppFolder app = Install("java-service-join", "CorvaneJoinService");
  // A file in the place of the temporary folder: the carried archive cannot be written.
  std::ofstream(app.folder / ScenarioTempName()) << "a file where the folder belongs";
  StartUntilLogged(app, "out started");
  ASSERT_TRUE(Await([&] { return Events().size() >= 2; })) << ReadAll(trace_);
  // The trace doubles each backslash.
  EXPECT_EQ(Events()[0].rfind("Error writing to file/directory: .\\\\" + ScenarioTempName() + "\\\\first.jar", 0), 0u)
      << Events()[0];
  StopUntilStopped();
  EXPECT_TRUE(Await([&] { return Events().size() >= 3; })) << ReadAll(trace_);
  // The first main returned and let go of its thread, so the stop call's join ended and its
  // System.exit(7) ended the service: no time-out.
  const std::vector<std::string> events = Events();
  EXPECT_EQ(std::vector<std::string>(events.begin() + 1, events.end()),
            (std::vector<std::string>{"The CorvaneJoinService service has started.",
                                      "The CorvaneJoinService service has stopped."}));
  const std::vector<std::string> log = Log(app);
  EXPECT_TRUE(Has(log, "out main-ends") && Has(log, "joined") && Has(log, "exit 7")) << ReadAll(app.folder / "service.log");
}

TEST_F(ServiceRun, AServiceWhoseJvmCannotBeLoadedReportsItsFailure) {
  AppFolder app = Install("java-service-no-jvm", "CorvaneBrokenService");
  PutRuntime(app.folder / "jre", Runtime::NotADll);
  Wine("net start CorvaneBrokenService", trace_);
  ASSERT_TRUE(Await([&] { return EventSeen("The CorvaneBrokenService service failed to start."); })) << ReadAll(trace_);
  EXPECT_TRUE(Await([&] { return State() == "STOPPED"; })) << ReadAll(trace_);
  const std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 3u) << ReadAll(trace_);
  EXPECT_EQ(events[0], "The CorvaneBrokenService service has started.");
  EXPECT_EQ(events[1], "Unable to load JVM: jre\\\\bin\\\\server\\\\jvm.dll");
  EXPECT_EQ(events[2], "The CorvaneBrokenService service failed to start.");
}

TEST_F(ServiceRun, AnApplicationThatIgnoresTheStopIsEndedAfterTheTimeOut) {
  const AppFolder app = Install("java-service-stubborn", "CorvaneStubbornService");
  StartUntilLogged(app, "out started");
  // Stop pending while the application goes on; then the time-out ends it.
  StopUntilStopped(90);
  EXPECT_TRUE(Has(Log(app), "out ignored"));
  EXPECT_TRUE(Await([&] { return Events().size() >= 3; })) << ReadAll(trace_);
  EXPECT_EQ(Events(), (std::vector<std::string>{
                          "The CorvaneStubbornService service has started.",
                          "The CorvaneStubbornService service has timed out during a stop request and will be terminated.",
                          "The CorvaneStubbornService service has stopped."}));
}

}  // namespace
