// Writing a configured launcher: the stub's bytes with the project's resources.
#pragma once

#include <filesystem>
#include <optional>

#include "error.h"
#include "pe_image.h"
#include "project.h"

namespace corvane::builder {

// Reads a launcher stub: a PE32+ GUI program with the launcher's settings table and error dialog,
// so that a wrong --stub is refused with a clear message.
Error OpenLauncherStub(const Bytes& stub, PeImage& image, ResourceTree& resources);

// The launcher for a project: the stub's resources with the project's settings, messages,
// translations, archives, icon, splash, version information and manifest. Keys the project leaves
// out keep the stub's values. `timeStamp` replaces the stub's header time stamp when given.
Error BuildLauncher(const Project& project, const Bytes& stub, std::optional<uint32_t> timeStamp, Bytes& out);

// SOURCE_DATE_EPOCH, when set: a whole number of seconds that fits the header's 32 bits.
Error SourceDateEpoch(std::optional<uint32_t>& out);

// Reads a whole file.
Error ReadFile(const std::filesystem::path& path, Bytes& out);

// Writes a file under a temporary name in the same folder and renames it into place, so that a
// failure never leaves a half-written file at `path`.
Error WriteFileAtomically(const std::filesystem::path& path, const Bytes& bytes);

}  // namespace corvane::builder
