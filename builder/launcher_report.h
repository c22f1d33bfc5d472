// What a launcher holds, read back from its resources: settings (the main class descrambled),
// messages of every language, carried archives and the other resources.
#pragma once

#include <string>

#include "error.h"

namespace corvane::builder {

// A readable report, or JSON when `json` is set.
Error InspectLauncher(const Bytes& file, bool json, std::string& out);

}  // namespace corvane::builder
