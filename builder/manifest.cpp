// The application manifest. Its text is fixed for a given set of options, so that the same project
// always gives the same launcher. Each windowsSettings element sits in the namespace of the Windows
// version that introduced it; older versions skip the ones they do not know.
#include "resource_encoders.h"

namespace corvane::builder {
namespace {

const char* LevelName(ExecutionLevel level) {
  switch (level) {
    case ExecutionLevel::HighestAvailable:
      return "highestAvailable";
    case ExecutionLevel::RequireAdministrator:
      return "requireAdministrator";
    case ExecutionLevel::AsInvoker:
      break;
  }
  return "asInvoker";
}

constexpr const char* kSettings2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings";
constexpr const char* kSettings2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings";
constexpr const char* kSettings2019 = "http://schemas.microsoft.com/SMI/2019/WindowsSettings";

void Setting(std::string& text, const char* name, const char* ns, const char* value) {
  text += std::string("      <") + name + " xmlns=\"" + ns + "\">" + value + "</" + name + ">\n";
}

}  // namespace

std::string EncodeManifest(const ManifestOptions& options) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
      "  <dependency>\n"
      "    <dependentAssembly>\n"
      "      <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
      "version=\"6.0.0.0\" processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" "
      "language=\"*\"/>\n"
      "    </dependentAssembly>\n"
      "  </dependency>\n"
      "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\n"
      "    <security>\n"
      "      <requestedPrivileges>\n"
      "        <requestedExecutionLevel level=\"";
  text += LevelName(options.executionLevel);
  text +=
      "\" uiAccess=\"false\"/>\n"
      "      </requestedPrivileges>\n"
      "    </security>\n"
      "  </trustInfo>\n";

  std::string settings;
  switch (options.dpiAwareness) {
    case DpiAwareness::Unaware:
      break;
    case DpiAwareness::System:
      Setting(settings, "dpiAware", kSettings2005, "true");
      break;
    case DpiAwareness::PerMonitor:
      // Windows 8.1 reads dpiAware, Windows 10 1607 and later dpiAwareness.
      Setting(settings, "dpiAware", kSettings2005, "true/pm");
      Setting(settings, "dpiAwareness", kSettings2016, "PerMonitor");
      break;
    case DpiAwareness::PerMonitorV2:
      // Versions without V2 take the next value of the list, then dpiAware.
      Setting(settings, "dpiAware", kSettings2005, "true/pm");
      Setting(settings, "dpiAwareness", kSettings2016, "PerMonitorV2, PerMonitor");
      break;
  }
  if (options.longPathAware) Setting(settings, "longPathAware", kSettings2016, "true");
  if (options.utf8CodePage) Setting(settings, "activeCodePage", kSettings2019, "UTF-8");
  if (!settings.empty()) {
    text +=
        "  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\">\n"
        "    <windowsSettings>\n";
    text += settings;
    text +=
        "    </windowsSettings>\n"
        "  </application>\n";
  }
  text += "</assembly>\n";
  return text;
}

}  // namespace corvane::builder
