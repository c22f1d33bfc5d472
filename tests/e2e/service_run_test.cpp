// The launcher as a Windows service under Wine's own Service Control Manager: installed and removed
// with its switches, started and stopped with `net`, observed through `sc query`, the service key, the
// application's log file and the event-log texts that Wine traces (WINEDEBUG=+eventlog) on the
// service's standard error. The Wine server of the suite is started by a test's first `net start`, so
// that the service manager and the services it starts carry that trace into a file of the test.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

using namespace corvane::test;

class ServiceRun : public WineTest {
 protected:
  void TearDown() override {
    if (!service_.empty()) Wine("sc stop " + service_ + " ; wine sc delete " + service_, "/dev/null");
  }

  // Runs `wine <command>` in the suite's prefix, standard output and error appended to `output`.
  static void Wine(const std::string& command, const std::string& output) {
    const std::string line = "cd / && WINEPREFIX='" + Session().Prefix() + "' DISPLAY='" + Session().Display() +
                             "' LANG=C.UTF-8 WINEDEBUG=+eventlog WINEDLLOVERRIDES='mscoree,mshtml=' wine " + command +
                             " >>'" + output + "' 2>&1";
    std::system(line.c_str());
  }

  bool Stopped() {
    const std::string file = (app_.folder / "query.txt").string();
    fs::remove(file);
    Wine("sc query " + service_, file);
    return ReadAll(file).find("STOPPED") != std::string::npos;
  }

  // Installs the scenario's launcher as `service` with the fake runtime beside it.
  void Install(const std::string& scenario, const std::string& service) {
    app_ = MakeAppFolder(scenario);
    trace_ = (app_.folder / "trace.txt").string();
    RunApp(app_, "-uninstall");  // a left-over of an earlier run goes first
    EXPECT_EQ(Shown(RunApp(app_, "-install")), std::vector<std::string>{"Information: Service installed: " + service});
    service_ = service;
    // The next wine command starts the server, and with it the service manager, with the trace on.
    std::system(("WINEPREFIX='" + Session().Prefix() + "' wineserver -k 2>/dev/null").c_str());
  }

  // Event-log texts the service wrote, in order (the trace doubles each backslash).
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
  // Waits until the service has written `count` events; all of them.
  std::vector<std::string> EventsOnce(size_t count) {
    EXPECT_TRUE(WaitUntil([&] { return Events().size() >= count; })) << ReadAll(trace_);
    return Events();
  }
  std::vector<std::string> Log() const { return Lines(ReadAll(app_.folder / "service.log")); }

  void Start(const std::string& logged) {
    Wine("net start " + service_, trace_);
    ASSERT_TRUE(WaitUntil([&] { return Has(Log(), logged); })) << ReadAll(trace_) << ReadAll(app_.folder / "service.log");
  }
  void Stop(int seconds = 60) {
    Wine("net stop " + service_, trace_);
    ASSERT_TRUE(WaitUntil([&] { return Stopped(); }, std::chrono::seconds(seconds))) << ReadAll(trace_);
  }
  std::string Said(const std::string& what) const { return "The " + service_ + " service " + what; }

  AppFolder app_;
  std::string service_, trace_;
};

// Name, description and start type come from the install command line; each switch reports what it
// did, and what it could not do with the system's reason.
TEST_F(ServiceRun, TheSwitchesInstallAndRemoveTheServiceTheCommandLineNames) {
  app_ = MakeAppFolder("java-service-named-on-install");
  RunApp(app_, "-uninstall CorvaneFromTheLine");
  const std::string notInstalled = SystemText(1060);  // ERROR_SERVICE_DOES_NOT_EXIST
  const RunResult installed = RunApp(app_, "-install CorvaneFromTheLine \"Two words\" 0");
  EXPECT_EQ(Shown(installed), std::vector<std::string>{"Information: Service installed: CorvaneFromTheLine"});
  service_ = "CorvaneFromTheLine";
  // Wine's sc has no "qc": the service manager's own key says the same.
  Wine("reg query 'HKLM\\SYSTEM\\CurrentControlSet\\Services\\CorvaneFromTheLine'", (app_.folder / "qc.txt").string());
  const std::string config = ReadAll(app_.folder / "qc.txt");
  EXPECT_NE(config.find("Start    REG_DWORD    0x3"), std::string::npos) << config;  // on demand
  EXPECT_NE(config.find("\"" + app_.launcher + "\" -startlauncherinservicemode \"CorvaneFromTheLine\" \"Two words\" 0"),
            std::string::npos) << config;
  const std::pair<std::string, std::string> steps[] = {
      {"-install CorvaneFromTheLine", "Error: Service is already installed: CorvaneFromTheLine"},
      {"-uninstall CorvaneFromTheLine", "Information: Service uninstalled: CorvaneFromTheLine"},
      {"-uninstall CorvaneFromTheLine", "Error: " + notInstalled}};
  for (const auto& [arguments, shown] : steps) {
    const RunResult result = RunApp(app_, arguments);
    ASSERT_EQ(Shown(result).size(), 1u) << arguments;
    EXPECT_EQ(Shown(result)[0].substr(0, Shown(result)[0].find_last_not_of("\r\n") + 1), shown);
    EXPECT_EQ(result.exitCode, 0u);
  }
  service_.clear();
}

// A launcher that runs only as a service installs itself. Its first start fails on a runtime that
// cannot be loaded; the second is stopped before its VM exists: the stop call (a second main) waits
// for the VM, and the first main then ends by itself. Every report goes to the event log.
TEST_F(ServiceRun, AFailedStartIsReportedAndAStopBeforeTheVmExistsWaitsForIt) {
  Install("java-service", "CorvaneJavaService");
  PutRuntime(app_.folder / "jre", "notadll");
  Wine("net start " + service_, trace_);
  const std::string unloadable = "Unable to load JVM: jre\\\\bin\\\\server\\\\jvm.dll";
  EXPECT_EQ(EventsOnce(3), (std::vector<std::string>{Said("has started."), unloadable, Said("failed to start.")}));
  ASSERT_TRUE(WaitUntil([&] { return Stopped(); })) << ReadAll(trace_);
  PutRuntime(app_.folder / "jre");
  Wine("net start " + service_, trace_);
  EventsOnce(4);
  Stop();
  EXPECT_EQ(EventsOnce(5), (std::vector<std::string>{Said("has started."), unloadable, Said("failed to start."),
                                                      Said("has started."), Said("has stopped.")}));
  // KeepStartDir is cleared for a service: main runs in the launcher's folder.
  const std::vector<std::string> log = Log();
  for (const std::string& line : std::vector<std::string>{"out started", "prop user.dir=" + WindowsPath(app_.folder.string()),
                                                         "stop requested", "stopped", "out main-ends"}) {
    EXPECT_TRUE(Has(log, line)) << line << "\n" << ReadAll(app_.folder / "service.log");
  }
  // Without ServiceArgsFromCommandLine a further argument names nothing.
  EXPECT_EQ(Shown(RunApp(app_, "-uninstall Other")),
            std::vector<std::string>{"Information: Service uninstalled: CorvaneJavaService"});
  service_.clear();
}

// The reports of a service start reach the event log from the first one on (a box would keep the
// service from ever starting), and a stop call may wait for the first main to end.
TEST_F(ServiceRun, ReportsGoToTheEventLogFromTheFirstAndAStopCallMayWaitForMain) {
  Install("java-service-join", "CorvaneJoinService");
  // A file in the place of the temporary folder: the carried archive cannot be written.
  std::ofstream(app_.folder / ScenarioTempName()) << "a file where the folder belongs";
  Start("out started");
  const std::vector<std::string> first = EventsOnce(2);
  EXPECT_EQ(first[0].rfind("Error writing to file/directory: .\\\\" + ScenarioTempName() + "\\\\first.jar", 0), 0u)
      << first[0];
  Stop();
  // The first main returned and let go of its thread, so the stop call's join ended and its
  // System.exit(7) ended the service: no time-out.
  const std::vector<std::string> events = EventsOnce(3);
  EXPECT_EQ(std::vector<std::string>(events.begin() + 1, events.end()),
            (std::vector<std::string>{Said("has started."), Said("has stopped.")}));
  const std::vector<std::string> log = Log();
  EXPECT_TRUE(Has(log, "out main-ends") && Has(log, "joined") && Has(log, "exit 7")) << ReadAll(app_.folder / "service.log");
}

TEST_F(ServiceRun, StopByExitRunsTheShutdownHooksAndReportsTheStop) {
  Install("java-service-exit", "CorvaneExitService");
  Start("out started");
  Stop();
  EXPECT_EQ(EventsOnce(2), (std::vector<std::string>{Said("has started."), Said("has stopped.")}));
  EXPECT_TRUE(Has(Log(), "hook shutdown-hook")) << ReadAll(app_.folder / "service.log");
}

TEST_F(ServiceRun, AnApplicationThatIgnoresTheStopIsEndedAfterTheTimeOut) {
  Install("java-service-stubborn", "CorvaneStubbornService");
  Start("out started");
  // Stop pending while the application goes on; then the time-out ends it.
  Stop(90);
  EXPECT_TRUE(Has(Log(), "out ignored"));
  EXPECT_EQ(EventsOnce(3), (std::vector<std::string>{Said("has started."),
                                                      Said("has timed out during a stop request and will be terminated."),
                                                      Said("has stopped.")}));
}

}  // namespace
