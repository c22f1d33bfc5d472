// Installing and removing the service with Wine's real Service Control Manager and registry (the
// test prefix's own), read back with QueryServiceConfigA and the registry.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/launch_config.h"
#include "base/text.h"
#include "fake_screen.h"
#include "service/service_install.h"

namespace {

struct ServiceConfig {
  bool found = false;
  DWORD type = 0, start = 0;
  std::string commandLine, dependencies;  // dependencies with their NULs
};

ServiceConfig ReadService(const std::string& name) {
  ServiceConfig config;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return config;
  SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_CONFIG);
  if (service != nullptr) {
    std::vector<char> buffer(8192);
    DWORD needed = 0;
    auto* query = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (QueryServiceConfigA(service, query, static_cast<DWORD>(buffer.size()), &needed)) {
      config.found = true;
      config.type = query->dwServiceType;
      config.start = query->dwStartType;
      config.commandLine = query->lpBinaryPathName != nullptr ? query->lpBinaryPathName : "";
      for (const char* p = query->lpDependencies; p != nullptr && *p != '\0'; p += std::strlen(p) + 1) {
        config.dependencies += std::string(p) + '\0';
      }
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return config;
}

// A value under HKEY_LOCAL_MACHINE as text (or a number's decimal text); "" when it is absent.
std::string ReadValue(const std::string& key, const char* name) {
  char data[1024] = {};
  DWORD size = sizeof(data), type = 0;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size) !=
      ERROR_SUCCESS) {
    return "";
  }
  if (type == REG_DWORD) return std::to_string(*reinterpret_cast<DWORD*>(data));
  return std::string(data) + (type == REG_EXPAND_SZ ? " (expand)" : "");
}

std::string SystemText(DWORD code) {
  char text[512] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, sizeof(text),
                 nullptr);
  return text;
}

class ServiceInstall : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = LaunchConfig;
    EditLaunchConfig().ServiceSwitch = CopyText("-startlauncherinservicemode");
    EditLaunchConfig().ServiceDependencies = CopyText("");
    EditLaunchConfig().ServiceArgsFromCommandLine = false;
    EditLaunchConfig().ServiceManualStart = false;
    EditLaunchConfig().ServiceInteractive = false;
    static int serial = 0;
    name_ = "CorvaneTest" + std::to_string(GetCurrentProcessId()) + "x" + std::to_string(++serial);
    GetModuleFileNameA(nullptr, exe_, sizeof(exe_));
    ScreenRecords().clear();
  }
  void TearDown() override {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager != nullptr ? OpenServiceA(manager, name_.c_str(), DELETE) : nullptr;
    if (service != nullptr) {
      DeleteService(service);
      CloseServiceHandle(service);
    }
    if (manager != nullptr) CloseServiceHandle(manager);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (EventLogKey() + name_).c_str());
    std::free(EditLaunchConfig().ServiceSwitch);
    std::free(EditLaunchConfig().ServiceDependencies);
    EditLaunchConfig() = saved_;
    ScreenRecords().clear();
  }
  static std::string EventLogKey() { return "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"; }
  static void Set(char** field, const char* value) {
    std::free(*field);
    *field = CopyText(value);
  }

  LaunchConfigRecord saved_;
  std::string name_;
  char exe_[MAX_PATH] = {};
};

TEST_F(ServiceInstall, CreatesTheServiceWithItsEventSourceAndDescription) {
  Set(&EditLaunchConfig().ServiceDependencies, ";;RpcSs;");
  EditLaunchConfig().ServiceManualStart = true;
  EditLaunchConfig().ServiceInteractive = true;
  EXPECT_EQ(QueryServiceInstalled(name_.c_str()), 0);
  ASSERT_EQ(InstallService(name_.c_str(), "Runs the %APPDIR% demo"), 0);
  EXPECT_TRUE(ScreenRecords().empty());
  EXPECT_EQ(QueryServiceInstalled(name_.c_str()), 1);

  const ServiceConfig config = ReadService(name_);
  ASSERT_TRUE(config.found);
  EXPECT_EQ(config.type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS));
  EXPECT_EQ(config.start, static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_EQ(config.commandLine, "\"" + std::string(exe_) + "\" -startlauncherinservicemode");
  // Leading empty items are skipped, not the end of the list. (Wine's QueryServiceConfigA leaves the
  // list out and its service manager keeps only the first name of a longer list, so the list of
  // several names is proven by the host tests of BuildDependencyList.)
  std::string stored(64, '\0');
  DWORD size = static_cast<DWORD>(stored.size()), type = 0;
  ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, ("SYSTEM\\CurrentControlSet\\Services\\" + name_).c_str(),
                         "DependOnService", RRF_RT_REG_MULTI_SZ, &type, stored.data(), &size),
            ERROR_SUCCESS);
  stored.resize(size);
  EXPECT_EQ(stored, std::string("RpcSs\0\0", 7));

  EXPECT_EQ(ReadValue(EventLogKey() + name_, "EventMessageFile"), std::string(exe_) + " (expand)");
  EXPECT_EQ(ReadValue(EventLogKey() + name_, "TypesSupported"), "7");
  EXPECT_EQ(ReadValue("SYSTEM\\CurrentControlSet\\Services\\" + name_, "Description"),
            "Runs the %APPDIR% demo");
}

TEST_F(ServiceInstall, SettingsOnTheCommandLineAndNoDescription) {
  EditLaunchConfig().ServiceArgsFromCommandLine = true;
  ASSERT_EQ(InstallService(name_.c_str(), ""), 0);
  const ServiceConfig config = ReadService(name_);
  ASSERT_TRUE(config.found);
  EXPECT_EQ(config.type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(config.start, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(config.commandLine, "\"" + std::string(exe_) + "\" -startlauncherinservicemode \"" + name_ + "\" \"\" 1");
  EXPECT_EQ(config.dependencies, "");
  EXPECT_EQ(ReadValue("SYSTEM\\CurrentControlSet\\Services\\" + name_, "Description"), "");
}

TEST_F(ServiceInstall, RemovingIsReportedWhenThereIsNothingToRemove) {
  ASSERT_EQ(InstallService(name_.c_str(), "x"), 0);
  EXPECT_EQ(UninstallService(name_.c_str()), 0);
  EXPECT_TRUE(ScreenRecords().empty());
  EXPECT_EQ(QueryServiceInstalled(name_.c_str()), 0);
  EXPECT_EQ(UninstallService(name_.c_str()), -1);
  ASSERT_EQ(ScreenRecords().size(), 1u);
  EXPECT_EQ(ScreenRecords()[0].text, SystemText(ERROR_SERVICE_DOES_NOT_EXIST));
}

struct RefusedCase {
  const char* name;
  bool settingsOnLine;
  std::string serviceSuffix, description;
  const char* reason;
};

class RefusedInstall : public ServiceInstall, public testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedInstall, CreatesNothing) {
  const RefusedCase& c = GetParam();
  EditLaunchConfig().ServiceArgsFromCommandLine = c.settingsOnLine;
  const std::string name = name_ + c.serviceSuffix;
  EXPECT_EQ(InstallService(name.c_str(), c.description.c_str()), -1);
  ASSERT_EQ(ScreenRecords().size(), 1u);
  EXPECT_EQ(ScreenRecords()[0].text, "Cannot install the " + name + " service: " + c.reason);
  EXPECT_FALSE(ReadService(name).found);
  EXPECT_EQ(ReadValue(EventLogKey() + name, "TypesSupported"), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedInstall,
    testing::Values(RefusedCase{"DescriptionTooLongForTheCommandLine", true, "", std::string(300, 'd'),
                                "its name, description or program path is too long."},
                    RefusedCase{"NameTooLongForTheEventLogKey", false, std::string(230, 'n'), "",
                                "its name, description or program path is too long."},
                    RefusedCase{"QuoteInTheDescription", true, "", "say \"hi\"",
                                "a name or description on its command line may not hold a double quote or end in a "
                                "backslash."},
                    RefusedCase{"BackslashEndingTheDescription", true, "", "C:\\data\\",
                                "a name or description on its command line may not hold a double quote or end in a "
                                "backslash."}),
    [](const testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

}  // namespace
