// The launcher as a service under Wine's own service manager: installed and removed with its switches,
// started and stopped with `net`, observed through `sc query`, the service key, the application's log
// and the event-log texts Wine traces (WINEDEBUG=+eventlog) on the service's standard error. A test's
// first `net start` starts the suite's Wine server, so that the trace goes into a file of the test.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

using namespace corvane::test;

class ServiceRun : public WineTest {
 protected:
  void TearDown() override {  // nothing is left installed, whatever failed
    if (!service_.empty()) Wine("sc stop " + service_ + " ; wine sc delete " + service_, "/dev/null");
  }
  // Runs `wine <command>` in the suite's prefix, its output appended to `output`.
  static void Wine(const std::string& command, const std::string& output) {
    std::system(("cd / && WINEPREFIX='" + Session().Prefix() + "' DISPLAY='" + Session().Display() +
                 "' LANG=C.UTF-8 WINEDEBUG=+eventlog WINEDLLOVERRIDES='mscoree,mshtml=' wine " + command + " >>'" +
                 output + "' 2>&1")
                    .c_str());
  }
  bool Stopped() {
    fs::remove(app_.folder / "query.txt");
    Wine("sc query " + service_, (app_.folder / "query.txt").string());
    return ReadAll(app_.folder / "query.txt").find("STOPPED") != std::string::npos;
  }
  // Installs the scenario's launcher as `service` with the fake runtime beside it.
  void Install(const std::string& scenario, const std::string& service) {
    app_ = MakeAppFolder(scenario, "", service);
    trace_ = (app_.folder / "trace.txt").string();
    RunApp(app_, "-uninstall");  // a left-over of an earlier run goes first
    EXPECT_EQ(Shown(RunApp(app_, "-install")), Texts{"Information: Service installed: " + service});
    service_ = service;
    // The next wine command starts the server, and with it the service manager, with the trace on.
    std::system(("WINEPREFIX='" + Session().Prefix() + "' wineserver -k 2>/dev/null").c_str());
  }
  // Event-log texts the service wrote, in order (the trace doubles each backslash), once there are `count`.
  Texts Events(size_t count) const {
    Texts events;
    EXPECT_TRUE(WaitUntil([&] {
      events.clear();
      const std::string trace = ReadAll(trace_);
      for (size_t at = trace.find("ReportEventW"); at != std::string::npos; at = trace.find("ReportEventW", at + 1)) {
        const size_t open = trace.find("L\"", at), end = trace.find('\n', at), close = trace.rfind('"', end);
        if (open < end && close != std::string::npos && close > open + 2) events.push_back(trace.substr(open + 2, close - open - 2));
      }
      return events.size() >= count;
    })) << ReadAll(trace_);
    return events;
  }
  Texts Log() const { return Lines(ReadAll(app_.folder / "service.log")); }
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
  EXPECT_EQ(Shown(RunApp(app_, "-install CorvaneFromTheLine \"Two words\" 0")),
            Texts{"Information: Service installed: CorvaneFromTheLine"});
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
      {"-uninstall CorvaneFromTheLine", "Error: " + SystemText(1060)}};  // ERROR_SERVICE_DOES_NOT_EXIST
  for (const auto& [arguments, shown] : steps) {
    const RunResult result = RunApp(app_, arguments);
    ASSERT_EQ(Shown(result).size(), 1u) << arguments;
    EXPECT_EQ(Shown(result)[0].substr(0, Shown(result)[0].find_last_not_of("\r\n") + 1), shown);
    EXPECT_EQ(result.exitCode, 0u);
  }
  service_.clear();
}

// The install command line may name the account after the start type, and a user account's password
// after it; the password reaches the service manager and nothing else. An account that cannot be
// right, or a user account with no password and no console to ask on, installs nothing.
TEST_F(ServiceRun, TheInstallCommandLineNamesTheAccountAndThePasswordGoesNowhereElse) {
  app_ = MakeAppFolder("java-service-named-on-install");
  RunOptions traced;
  traced.env["CORVANE_TRACE"] = "trace.txt";
  RunApp(app_, "-uninstall CorvaneAccount");
  EXPECT_EQ(Shown(RunApp(app_, "-install CorvaneAccount \"\" 0 .\\corvane Pa55word", traced)),
            Texts{"Information: Service installed: CorvaneAccount"});
  service_ = "CorvaneAccount";
  Wine("reg query 'HKLM\\SYSTEM\\CurrentControlSet\\Services\\CorvaneAccount' /v ObjectName", (app_.folder / "qc.txt").string());
  EXPECT_NE(ReadAll(app_.folder / "qc.txt").find("REG_SZ    .\\corvane"), std::string::npos) << ReadAll(app_.folder / "qc.txt");
  const std::string trace = ReadAll(app_.folder / "trace.txt");
  EXPECT_TRUE(trace.find("installed as .\\corvane") != std::string::npos && trace.find("Pa55word") == std::string::npos) << trace;
  const std::string refused = "Error: Cannot install the CorvaneRefused service: ServiceAccount: ";
  const std::pair<std::string, std::string> steps[] = {
      {"-install CorvaneRefused \"\" 0 \"\" Pa55word", refused + "a password needs a user account."},
      {"-install CorvaneRefused \"\" 0 CORP\\ Pa55word", refused + "an account is \".\\name\", \"DOMAIN\\name\", "
                                                       "\"NT AUTHORITY\\LocalService\" or \"NT AUTHORITY\\NetworkService\"."},
      {"-install CorvaneRefused \"\" 0 .\\corvane", "Error: Cannot install the service as .\\corvane: no password came (none "
                                                  "on the command line, no console to ask on, or a line over 255 characters)."},
      {"-uninstall CorvaneRefused", "Error: " + SystemText(1060)}};  // nothing was created
  for (const auto& [arguments, shown] : steps) {
    const Texts said = Shown(RunApp(app_, arguments));
    ASSERT_EQ(said.size(), 1u) << arguments;
    EXPECT_EQ(said[0].substr(0, said[0].find_last_not_of("\r\n") + 1), shown);
  }
}

// An uninstall of a running service stops it first (its shutdown hooks run), then removes it.
TEST_F(ServiceRun, AnUninstallStopsTheRunningServiceFirstAndSaysSo) {
  Install("java-service-exit", "CorvaneExitService");
  Start("out started");
  EXPECT_EQ(Shown(RunApp(app_, "-uninstall")), Texts{"Information: Service stopped and uninstalled: CorvaneExitService"});
  EXPECT_EQ(Events(2), (Texts{Said("has started."), Said("has stopped.")}));  // the application's own stop ran
  EXPECT_EQ(Shown(RunApp(app_, "-uninstall")).at(0).substr(0, 7 + SystemText(1060).size()), "Error: " + SystemText(1060));
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
  EXPECT_EQ(Events(3), (Texts{Said("has started."), unloadable, Said("failed to start.")}));
  ASSERT_TRUE(WaitUntil([&] { return Stopped(); })) << ReadAll(trace_);
  PutRuntime(app_.folder / "jre");
  Wine("net start " + service_, trace_);
  Events(4);
  Stop();
  EXPECT_EQ(Events(5), (Texts{Said("has started."), unloadable, Said("failed to start."), Said("has started."),
                              Said("has stopped.")}));
  // KeepStartDir is cleared for a service: main runs in the launcher's folder.
  for (const std::string& line :
       Texts{"out started", "prop user.dir=" + WindowsPath(app_.folder.string()), "stop requested", "stopped", "out main-ends"}) {
    EXPECT_TRUE(Has(Log(), line)) << line << "\n" << ReadAll(app_.folder / "service.log");
  }
  // Without ServiceArgsFromCommandLine a further argument names nothing.
  EXPECT_EQ(Shown(RunApp(app_, "-uninstall Other")), Texts{"Information: Service uninstalled: CorvaneJavaService"});
  service_.clear();
}

// The reports of a service start reach the event log from the first one on (a box would keep the
// service from ever starting); a stop call may wait for the first main to end: its join ends and its
// System.exit(7) ends the service, with no time-out.
TEST_F(ServiceRun, ReportsGoToTheEventLogFromTheFirstAndAStopCallMayWaitForMain) {
  Install("java-service-join", "CorvaneJoinService");
  std::ofstream(app_.folder / ScenarioTempName()) << "a file where the folder belongs";  // no archive can be written
  Start("out started");
  const std::string first = Events(2)[0];
  EXPECT_EQ(first.rfind("Error writing to file/directory: .\\\\" + ScenarioTempName() + "\\\\first.jar", 0), 0u) << first;
  Stop();
  EXPECT_EQ(Events(3), (Texts{first, Said("has started."), Said("has stopped.")}));
  EXPECT_TRUE(Has(Log(), "out main-ends") && Has(Log(), "joined") && Has(Log(), "exit 7")) << ReadAll(app_.folder / "service.log");
}

// With StopByExit the stop runs the shutdown hooks; an application that ignores the stop is ended
// after the time-out.
TEST_F(ServiceRun, AStopRunsTheShutdownHooksOrEndsAnApplicationThatIgnoresItAfterTheTimeOut) {
  Install("java-service-exit", "CorvaneExitService");
  Start("out started");
  Stop();
  EXPECT_EQ(Events(2), (Texts{Said("has started."), Said("has stopped.")}));
  EXPECT_TRUE(Has(Log(), "hook shutdown-hook")) << ReadAll(app_.folder / "service.log");
  TearDown();
  Install("java-service-stubborn", "CorvaneStubbornService");
  Start("out started");
  Stop(90);  // stop pending while the application goes on; then the time-out ends it
  EXPECT_TRUE(Has(Log(), "out ignored"));
  EXPECT_EQ(Events(3), (Texts{Said("has started."), Said("has timed out during a stop request and will be terminated."),
                              Said("has stopped.")}));
}

}  // namespace
