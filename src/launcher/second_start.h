// What a second start hands to the running instance, and where: the pipe's name and the one message
// it carries. Portable, so that the message rules are tested on every platform.
//
// A message is "CVS1", then the folder the second start was made in and each of its command-line
// arguments, every part ended by a zero byte. Nothing else is accepted: a part without its zero
// byte, a message without a folder, or one longer than SecondStartMessageCapacity.
#pragma once

#include <cstddef>

#include "base/text.h"

// Room for the longest command line Windows passes (32,767 characters) and a folder, with the
// zero bytes of every part.
constexpr size_t SecondStartMessageCapacity = 36 * 1024;

// The answers of the running instance: one byte.
constexpr char SecondStartTaken = 'A';
constexpr char SecondStartRefused = 'R';

// "\\.\pipe\Corvane-<session>-<user>-<hash of the mutex name>" into `out` of `capacity` bytes: one
// name per instance mutex, user and session, so that another user or session neither reaches nor
// holds it. False when it does not fit.
bool SecondStartPipeName(const char* mutexName, unsigned long session, const char* userSid, char* out, size_t capacity);

// Null when `name` can name the method (a Java identifier of ASCII letters, digits, '_' and '$', not
// beginning with a digit, or "" for none), else why not.
const char* CheckSecondStartMethod(const char* name);

// Writes the message into `out`; answers its length, or 0 when it does not fit `capacity`.
size_t ComposeSecondStartMessage(const char* folder, int count, char* const* args, char* out, size_t capacity);

// A message read back: the folder and the arguments, copies of their own.
struct SecondStartRequest {
  HeapText folder;
  ArgumentList args;
};

// Reads the `length` bytes of a message. False for anything but a whole message (see above), and
// when memory runs out.
bool ReadSecondStartMessage(const char* message, size_t length, SecondStartRequest* request);
