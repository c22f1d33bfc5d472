// Resource data the builder writes besides the string tables: version information, icons, the
// splash bitmap and the manifest. Each encoder gives the bytes a resource compiler (windres) writes
// for the same input, so that launchers built either way carry the same resources.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "error.h"

namespace corvane::builder {

// --- Version information (RT_VERSION 1) ---
struct VersionInfo {
  std::array<uint16_t, 4> fileVersion{};     // FILEVERSION a,b,c,d
  std::array<uint16_t, 4> productVersion{};  // PRODUCTVERSION a,b,c,d
  // String values of the block "040904B0" (language 0x0409, code page 1200); empty ones are left out.
  std::string companyName, fileDescription, fileVersionText, internalName, legalCopyright,
      originalFilename, productName, productVersionText;
  uint16_t language = 0x0409;
  uint16_t codePage = 1200;

  bool operator==(const VersionInfo&) const = default;
};
// "1", "1.2", "1.2.3" or "1.2.3.4", each part 0..65535; missing parts are 0.
Error ParseVersionNumber(const std::string& text, std::array<uint16_t, 4>& out);
// VS_VERSIONINFO with VS_FIXEDFILEINFO (file type VFT_APP, OS VOS_NT_WINDOWS32, no flags), a
// StringFileInfo with one string table and a VarFileInfo "Translation" of language and code page.
// Texts are UTF-8 and are stored as UTF-16. A text that is not valid UTF-8 or holds a NUL, or texts
// too long for the 16-bit lengths of the format, are an error; `out` is then left as it was.
Error EncodeVersionInfo(const VersionInfo& info, Bytes& out);
// Reads back what EncodeVersionInfo wrote (or what a resource compiler writes), for inspecting.
// Language and code page come from the name of the first string table (without one, from the
// Translation value); values of other names are skipped. Any length or offset that leaves the data is an error; `out` is then left as it was.
Error DecodeVersionInfo(std::span<const uint8_t> data, VersionInfo& out);

// --- Icons (RT_ICON n.., RT_GROUP_ICON) ---
struct IconResources {
  Bytes group;               // GRPICONDIR with one entry per image
  std::vector<Bytes> images; // RT_ICON data, ids firstId, firstId + 1, ...
};
// Splits an .ico file into its images (every size it holds, PNG-compressed ones included) and the
// group that names them by id, starting at firstId. A file that is not a well-formed .ico (counts,
// offsets and sizes inside the file, each image a PNG or a bitmap) is an error; `out` is then left
// as it was.
Error EncodeIconFile(std::span<const uint8_t> ico, uint16_t firstId, IconResources& out);

// --- Bitmap (RT_BITMAP) ---
// A BMP file without its 14-byte file header (what LoadBitmap expects), from a .bmp file (checked,
// any bit depth and compression Windows reads) or a .png file (decoded and stored as a 32-bit
// bottom-up DIB with alpha, or 24-bit when fully opaque). Bytes a .bmp file keeps between its colour
// table and its pixels are dropped: a packed DIB has its pixels right after the table. Anything else
// is an error, and so is an image over 16384 pixels a side or 256 MiB of pixels; `dib` is then left
// as it was.
Error EncodeBitmapFile(std::span<const uint8_t> file, Bytes& dib);

// --- Manifest (RT_MANIFEST 1) ---
enum class ExecutionLevel { AsInvoker, HighestAvailable, RequireAdministrator };
enum class DpiAwareness { Unaware, System, PerMonitor, PerMonitorV2 };
struct ManifestOptions {
  ExecutionLevel executionLevel = ExecutionLevel::AsInvoker;
  DpiAwareness dpiAwareness = DpiAwareness::Unaware;
  bool longPathAware = false;
  bool utf8CodePage = false;  // activeCodePage UTF-8: the ANSI code page becomes UTF-8
};
// The manifest text: always a dependency on common controls 6.0.0.0, the trustInfo with the
// execution level, and the application settings the options ask for.
std::string EncodeManifest(const ManifestOptions& options);

}  // namespace corvane::builder
