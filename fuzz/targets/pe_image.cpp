// A launcher or stub as corvane-build reads it: the PE headers (PeImage::Parse), the resources
// (ReadResources), putting resources back (ReplaceResources) and `inspect`. A parsed image must
// serialize and parse again; a resource tree written into it must read back unchanged. Input: the
// file.
#include <string>

#include "fuzz_support.h"
#include "launcher_report.h"
#include "pe_image.h"
#include "tree_compare.h"

using namespace corvane::builder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Bytes file(data, data + size);
  std::string report;
  (void)InspectLauncher(file, false, report);
  (void)InspectLauncher(file, true, report);

  PeImage image;
  if (PeImage::Parse(file, image)) return 0;
  const Bytes serialized = image.Serialize();
  FUZZ_CHECK(serialized.size() == file.size());
  PeImage again;
  FUZZ_CHECK(!PeImage::Parse(serialized, again).has_value());
  FUZZ_CHECK(again.Serialize() == serialized);

  ResourceTree tree;
  if (image.ReadResources(tree)) return 0;
  // The same resources written back (what a build that changes nothing does), then read again.
  PeImage rewritten = image;
  if (rewritten.ReplaceResources(tree)) return 0;
  PeImage reread;
  FUZZ_CHECK(!PeImage::Parse(rewritten.Serialize(), reread).has_value());
  ResourceTree back;
  FUZZ_CHECK(!reread.ReadResources(back).has_value());
  FUZZ_CHECK(SameResources(back, tree));
  FUZZ_CHECK(!reread.HasSignature());
  return 0;
}
