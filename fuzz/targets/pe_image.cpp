// A launcher or stub as corvane-build reads it: the PE headers, the resources, putting resources
// back and `inspect`. A parsed image serializes to itself; its resources written back read back the
// same. Input: the file.
#include <string>

#include "fuzz_support.h"
#include "launcher_report.h"
#include "pe_image.h"

using namespace corvane::builder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Bytes file(data, data + size);
  std::string report;
  (void)InspectLauncher(file, true, report);
  PeImage image;
  if (PeImage::Parse(file, image)) return 0;
  FUZZ_CHECK(image.Serialize().size() == file.size());
  ResourceTree tree, back;
  if (image.ReadResources(tree) || image.ReplaceResources(tree)) return 0;
  PeImage reread;
  FUZZ_CHECK(!PeImage::Parse(image.Serialize(), reread).has_value() && !reread.ReadResources(back).has_value());
  FUZZ_CHECK(SerializeResources(back, 0x1000) == SerializeResources(tree, 0x1000) && !reread.HasSignature());
  return 0;
}
