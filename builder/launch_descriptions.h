// One line about each launcher setting, for the project template and the inspect report.
#pragma once

namespace corvane::builder {

const char* SettingDescription(int id);

}  // namespace corvane::builder
