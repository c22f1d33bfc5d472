// Version information (RT_VERSION) as `inspect` reads it (DecodeVersionInfo): every node length
// checked. What it reads, written again (EncodeVersionInfo), must read back the same. Input: the
// resource's bytes.
#include "fuzz_support.h"
#include "resource_encoders.h"

using namespace corvane::builder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  VersionInfo info;
  info.companyName = "unchanged";
  const VersionInfo before = info;
  if (DecodeVersionInfo(std::span<const uint8_t>(data, size), info)) {
    FUZZ_CHECK(info == before);
    return 0;
  }
  Bytes written;
  if (EncodeVersionInfo(info, written)) return 0;  // texts too long for a new node
  VersionInfo back;
  FUZZ_CHECK(!DecodeVersionInfo(written, back).has_value());
  FUZZ_CHECK(back == info);
  return 0;
}
