// How the builder's pieces answer: nothing on success, or a sentence that says what is wrong, which
// the caller prefixes with the file (and key) it concerns.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane::builder {

using Error = std::optional<std::string>;
using Bytes = std::vector<uint8_t>;

}  // namespace corvane::builder
