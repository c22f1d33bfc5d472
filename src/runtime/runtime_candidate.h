// What the launcher learns about one installed runtime from bytes and names alone: whether its
// jvm.dll is an image a 64-bit process can load, the version its `release` file states, the version
// an installer's key name carries, and which of several candidates is kept. Portable: the files
// and keys are read in installed_runtimes_win.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/text.h"

// Machine fields of an image's file header.
constexpr uint16_t ImageMachineAmd64 = 0x8664;  // the only kind a 64-bit launcher can load
constexpr uint16_t ImageMachineI386 = 0x014C;

// Bytes of a file's start that hold the DOS header with the offset of the NT headers.
constexpr size_t DosHeaderSize = 64;
// Bytes at that offset that hold the signature "PE\0\0" and the machine field.
constexpr size_t ImageSignatureSize = 6;

// The offset of the NT headers named by a DOS header ("MZ", offset at 0x3C); 0 when the bytes are
// no DOS header or too few.
uint32_t ImageHeaderOffset(const unsigned char* bytes, size_t length);

// The machine field behind the signature "PE\0\0"; 0 when the signature is missing or the bytes are
// too few.
uint16_t ImageMachine(const unsigned char* bytes, size_t length);

// The JAVA_VERSION of a `release` file's text (`length` bytes, no terminator needed), without its
// quotes. When `complete` is false the text was cut, and a last line without its line end is not
// read, since its value may be cut too. False when there is none, it is empty, or it does not fit
// into `out` (`size` characters, terminator included; out is then "").
bool ReleaseJavaVersion(const char* text, size_t length, bool complete, char* out, size_t size);

// The version an installer's key name carries: the first run of digits, "." and "_" that starts
// with a digit ("17.0.9.9", "zulu-17-jre" gives 17, "jdk-21" gives 21). False when the name holds
// no digit or the run does not fit into `out`.
bool KeyNameVersion(const char* name, char* out, size_t size);

// Applies the ";"-separated version rules to a candidate's version text and answers the number it
// ranks by (the rules' comparison, so "highest" means the largest such number). A version of Java
// 8 or older in the newer installers' form ("8.0.392.8") ranks as the runtime names itself
// ("1.8.0_392"), so that it meets rules and old keys on the same scale. An unknown version ("" or
// null) passes only when there is no rule, and then ranks below every known one. False when a rule
// rejects the candidate.
bool RankCandidateVersion(const char* rules, const char* version, int64_t* rank);

// The runtime kept so far among the candidates of one search digit.
struct RuntimeChoice {
  bool chosen;
  int64_t rank;
  char jvmDll[PathCapacity];
  char home[PathCapacity];
};

// Whether a candidate of this rank would replace the choice: nothing is chosen yet, or the rank is
// higher. Of equal ranks the first one found stays.
bool OutranksChoice(const RuntimeChoice& choice, int64_t rank);

// Keeps the candidate when it outranks the choice and both texts fit; answers whether it was kept.
bool OfferRuntime(RuntimeChoice* choice, int64_t rank, const char* jvmDll, const char* home);
