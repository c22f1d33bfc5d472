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
};

TEST_F(ServiceInstall, CreatesTheServiceWithItsEventSourceAndRemovesItOnce) {
  EditLaunchConfig().ServiceManualStart = EditLaunchConfig().ServiceInteractive = true;
  EditLaunchConfig().ServiceArgsFromCommandLine = false;
  EXPECT_EQ(QueryServiceInstalled(name_.c_str()), 0);
  ASSERT_EQ(InstallService(name_.c_str(), "Runs the %APPDIR% demo"), 0);
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
  ASSERT_EQ(InstallService(name_.c_str(), ""), 0);
  EXPECT_EQ(Config(name_), "16 2 \"" + std::string(exe_) + "\" -startlauncherinservicemode \"" + name_ + "\" \"\" 1");
  EXPECT_EQ(Value(Services + name_, "Description"), "");
}

}  // namespace
