// A second start's message as the running instance reads it from its pipe, where anyone of the same
// user may write anything: what is accepted is exactly what a second start would have sent.
// Input: the message's bytes.
#include <string>

#include "fuzz_support.h"
#include "launcher/second_start.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SecondStartRequest request;
  if (!ReadSecondStartMessage(reinterpret_cast<const char*>(data), size, &request)) return 0;
  std::string again(SecondStartMessageCapacity, '\0');
  again.resize(ComposeSecondStartMessage(request.folder.get(), request.args.count, request.args.items, again.data(),
                                         again.size()));
  FUZZ_CHECK(again == std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
