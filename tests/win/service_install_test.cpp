// Installing and removing the service with the test prefix's own Service Control Manager, read back
// from the registry where it keeps services and event sources.
#include <gtest/gtest.h>

#include "service/service_install.h"
#include "../shared/win_support.h"

namespace {

using namespace corvane::test;

const std::string Services = "SYSTEM\\CurrentControlSet\\Services\\", Events = Services + "EventLog\\Application\\";

// A value as text (a number's decimal text, a list with its NULs); "" when it is absent.
std::string Value(const std::string& key, const char* name) {
  char data[1024] = {};
  DWORD size = sizeof(data), type = 0;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size) != ERROR_SUCCESS) return "";
  if (type == REG_DWORD) return std::to_string(*reinterpret_cast<DWORD*>(data));
  return type == REG_MULTI_SZ ? std::string(data, size) : std::string(data) + (type == REG_EXPAND_SZ ? " (expand)" : "");
}

class ServiceInstall : public testing::Test {
 protected:
  void SetUp() override { GetModuleFileNameA(nullptr, exe_, sizeof(exe_)), ScreenRecords().clear(); }
  void TearDown() override {  // nothing stays in the reused prefix, even after a failure
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, name_.c_str(), DELETE);
    if (service) DeleteService(service), CloseServiceHandle(service);
    CloseServiceHandle(manager);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (Events + name_).c_str());
    EditLaunchConfig() = saved_;
    ScreenRecords().clear();
  }
  // Type, start and command line as the service manager stored them.
  std::string Config(const std::string& name) { return Value(Services + name, "Type") + " " + Value(Services + name, "Start") + " " + Value(Services + name, "ImagePath"); }
  LaunchConfigRecord saved_ = LaunchConfig;
  std::string name_ = "CorvaneTest" + std::to_string(GetCurrentProcessId());
  char exe_[MAX_PATH] = {};
  SettingText switch_{&EditLaunchConfig().ServiceSwitch, "-startlauncherinservicemode"};
  SettingText dependencies_{&EditLaunchConfig().ServiceDependencies, ";;RpcSs;"};
  SettingText delays_{&EditLaunchConfig().ServiceRestartDelays, ""}, account_{&EditLaunchConfig().ServiceAccount, ""};
};

// What the service manager answers for the service: account, failure actions (reset period, then
// each action's type/delay), their flag and the delayed start.
std::string Answers(const std::string& name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_CONFIG);
  alignas(8) BYTE data[8192] = {};
  DWORD n = 0;
  const auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(data);
  std::string answers = "account " + std::string(QueryServiceConfigA(service, (QUERY_SERVICE_CONFIGA*)data, 8192, &n) ? config->lpServiceStartName : "") + "; failure";
  const auto* failure = reinterpret_cast<SERVICE_FAILURE_ACTIONSA*>(data);
  const auto level = [&](DWORD which, auto ok) { return QueryServiceConfig2A(service, which, data, 8192, &n) ? ok() : " error " + std::to_string(GetLastError()); };
  answers += level(SERVICE_CONFIG_FAILURE_ACTIONS, [&] {
    std::string actions = " reset " + std::to_string(failure->dwResetPeriod);
    for (DWORD i = 0; i < failure->cActions; ++i) actions += " " + std::to_string(failure->lpsaActions[i].Type) + "/" + std::to_string(failure->lpsaActions[i].Delay);
    return actions;
  }) + "; flag" + level(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, [&] { return " " + std::to_string(*reinterpret_cast<DWORD*>(data)); })
     + "; delayed" + level(SERVICE_CONFIG_DELAYED_AUTO_START_INFO, [&] { return " " + std::to_string(*reinterpret_cast<DWORD*>(data)); });
  CloseServiceHandle(service), CloseServiceHandle(manager);
  return answers;
}

TEST_F(ServiceInstall, CreatesTheServiceWithItsEventSourceAndRemovesItOnce) {
  EditLaunchConfig().ServiceManualStart = EditLaunchConfig().ServiceInteractive = true;
  EditLaunchConfig().ServiceArgsFromCommandLine = false;
  EXPECT_EQ(QueryServiceInstalled(name_.c_str()), 0);
  ASSERT_EQ(InstallService(name_.c_str(), "Runs the %APPDIR% demo", nullptr), 0);
  EXPECT_EQ(QueryServiceInstalled(name_.c_str()), 1);
  EXPECT_EQ(Config(name_), "272 3 \"" + std::string(exe_) + "\" -startlauncherinservicemode");  // own process, interactive; demand
  // Leading empty items are skipped, not the end of the list (Wine keeps only a list's first name).
  EXPECT_EQ(Value(Services + name_, "DependOnService"), std::string("RpcSs\0\0", 7));
  EXPECT_EQ(Value(Services + name_, "Description"), "Runs the %APPDIR% demo");
  EXPECT_EQ(Value(Events + name_, "EventMessageFile") + " " + Value(Events + name_, "TypesSupported"), std::string(exe_) + " (expand) 7");
  EXPECT_EQ(ScreenRecords(), std::vector<ScreenRecord>{});
  EXPECT_EQ(UninstallService(name_.c_str()), 0);
  EXPECT_EQ(QueryServiceInstalled(name_.c_str()), 0);
  EXPECT_EQ(UninstallService(name_.c_str()), -1);
  char reason[512] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_SERVICE_DOES_NOT_EXIST, 0, reason, sizeof(reason), nullptr);
  EXPECT_EQ(ScreenRecords(), (std::vector<ScreenRecord>{{"error box", reason, ""}}));
  // The settings on the command line, automatic start, no description.
  EditLaunchConfig().ServiceManualStart = EditLaunchConfig().ServiceInteractive = false;
  EditLaunchConfig().ServiceArgsFromCommandLine = true;
  ASSERT_EQ(InstallService(name_.c_str(), "", nullptr), 0);
  EXPECT_EQ(Config(name_), "16 2 \"" + std::string(exe_) + "\" -startlauncherinservicemode \"" + name_ + "\" \"\" 1");
  EXPECT_EQ(Value(Services + name_, "Description"), "");
}

// Without the new settings the service is as it always was. Wine 8 accepts failure actions but keeps
// none (its query answers ERROR_INVALID_LEVEL) and refuses the failure-actions flag and the delayed
// start (ERROR_INVALID_PARAMETER through the A call): the install then says why and leaves nothing.
TEST_F(ServiceInstall, RecoveryDelayedStartAndAccountAreStoredAsSetOrTheServiceIsRemovedAgain) {
  LaunchConfigRecord& c = EditLaunchConfig();
  c.ServiceManualStart = c.ServiceNonZeroExitFails = c.ServiceDelayedStart = false, c.ServiceResetSeconds = 3600;
  ASSERT_EQ(InstallService(name_.c_str(), "", nullptr), 0);
  EXPECT_EQ(Answers(name_).substr(0, 21), "account LocalSystem; ");
  ASSERT_EQ(UninstallService(name_.c_str()), 0);
  SettingText delays{&c.ServiceRestartDelays, "5000;30000;60000"}, account{&c.ServiceAccount, "NT AUTHORITY\\NetworkService"};
  c.ServiceDelayedStart = c.ServiceManualStart = true;  // no delayed start on demand
  ASSERT_EQ(InstallService(name_.c_str(), "", nullptr), 0);
  const std::string answers = Answers(name_), failure = answers.substr(answers.find("; failure"));
  EXPECT_EQ(answers.substr(0, answers.find(';')), "account NT AUTHORITY\\NetworkService");
  EXPECT_TRUE(failure.rfind("; failure reset 3600 1/5000 1/30000 1/60000;", 0) == 0 || failure.rfind("; failure error 124;", 0) == 0) << answers;
  ASSERT_EQ(UninstallService(name_.c_str()), 0);
  SettingText user{&c.ServiceAccount, ".\\corvane"};
  ASSERT_EQ(InstallService(name_.c_str(), "", "not stored"), 0);
  EXPECT_EQ(Answers(name_).substr(0, 18), "account .\\corvane;");
  ASSERT_EQ(UninstallService(name_.c_str()), 0);
  EXPECT_EQ(ScreenRecords(), std::vector<ScreenRecord>{});
  for (bool* flag : {&c.ServiceNonZeroExitFails, &c.ServiceDelayedStart}) {
    c.ServiceNonZeroExitFails = c.ServiceDelayedStart = c.ServiceManualStart = false, *flag = true;
    ScreenRecords().clear();
    if (InstallService(name_.c_str(), "", "not stored") == 0) {  // a service manager that keeps them
      EXPECT_NE(Answers(name_).find(flag == &c.ServiceDelayedStart ? "; delayed 1" : "; flag 1"), std::string::npos);
      UninstallService(name_.c_str());
      continue;
    }
    EXPECT_EQ(QueryServiceInstalled(name_.c_str()), 0);
    char reason[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_INVALID_PARAMETER, 0, reason, sizeof(reason), nullptr);
    EXPECT_EQ(ScreenRecords(), (std::vector<ScreenRecord>{{"error box", reason, ""}}));
  }
}

// A wrong setting or account refuses the install before anything is created.
TEST_F(ServiceInstall, AWrongDelayListResetPeriodOrAccountInstallsNothing) {
  LaunchConfigRecord& c = EditLaunchConfig();
  const struct { const char *delays, *account, *password; int32_t reset; std::string said; } cases[] = {
      {"5000;x", "", nullptr, 0, "ServiceRestartDelays: must be whole milliseconds separated by \";\", such as \"5000;30000;60000\""},
      {"5000", "", nullptr, -1, "ServiceResetSeconds: must not be negative"},
      {"", "", "secret", 0, "ServiceAccount: a password needs a user account"},
      {"", "CORP\\", "secret", 0, "ServiceAccount: an account is \".\\name\", \"DOMAIN\\name\", \"NT AUTHORITY\\LocalService\" or \"NT AUTHORITY\\NetworkService\""}};
  for (const auto& k : cases) {
    SettingText delays{&c.ServiceRestartDelays, k.delays}, account{&c.ServiceAccount, k.account};
    c.ServiceResetSeconds = k.reset;
    ScreenRecords().clear();
    EXPECT_EQ(InstallService(name_.c_str(), "", k.password), -1);
    EXPECT_EQ(QueryServiceInstalled(name_.c_str()), 0) << k.said;
    EXPECT_EQ(ScreenRecords(), (std::vector<ScreenRecord>{{"error box", "Cannot install the " + name_ + " service: " + k.said + ".", ""}}));
  }
}

}  // namespace
