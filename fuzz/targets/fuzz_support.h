// A check that stops a fuzz target like a crash (so that libFuzzer keeps the input) when a parser
// breaks one of its own promises.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition) \
  ((condition) ? void(0) : (std::fprintf(stderr, "%s:%d: broken promise: %s\n", __FILE__, __LINE__, #condition), std::abort()))
