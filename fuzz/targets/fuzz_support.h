// Shared by the fuzz targets: a check that stops the run like a crash (so that libFuzzer keeps the
// input) when a parser breaks one of its own promises, and the cutting of an input into texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                                  \
  do {                                                                                         \
    if (!(condition)) {                                                                        \
      std::fprintf(stderr, "%s:%d: broken promise: %s\n", __FILE__, __LINE__, #condition);    \
      std::abort();                                                                            \
    }                                                                                          \
  } while (0)

// The input cut at its zero bytes into `count` texts: the last one takes the rest (its zero bytes
// cut it again where a C text ends), missing ones are empty. Seed files hold the texts separated
// by single zero bytes.
inline std::vector<std::string> Pieces(const uint8_t* data, size_t size, size_t count) {
  std::vector<std::string> pieces(count);
  size_t piece = 0;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && piece + 1 < count) {
      ++piece;
    } else {
      pieces[piece].push_back(static_cast<char>(data[i]));
    }
  }
  return pieces;
}

// The text a C function sees of a piece: up to its first zero byte.
inline std::string CText(const std::string& piece) { return std::string(piece.c_str()); }
