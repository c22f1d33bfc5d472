// A second start that reaches the running instance: the running instance serves a named pipe that
// only its own user in its own session reaches, and calls SecondInstanceMethod with what arrives; a
// second start sends its folder and arguments there and ends once they were taken.
#pragma once

#include <windows.h>

// How long a second start waits for the running instance to take its arguments: enough for a VM
// that is still starting.
constexpr DWORD SecondStartAnswerMilliseconds = 10000;

// Makes the pipe for the instance mutex (this process holds the mutex) and answers second starts from
// a thread of its own. Until OpenSecondStarts or CloseSecondStarts a second start waits. False when
// the pipe could not be made (another process holds the name): this instance then runs without it.
bool ServeSecondStarts(const char* mutexName);
// The application's main is about to be called: what arrives is taken and handed to the application.
void OpenSecondStarts();
// The VM did not start, or the application has ended: what arrives from now on is refused.
void CloseSecondStarts();

// Sends `folder` and the arguments to the instance holding the mutex and waits up to
// `answerMilliseconds` for its answer. True when it took them; false when nothing answered, it
// refused, or the pipe is not held by this user in this session.
bool DeliverSecondStart(const char* mutexName, const char* folder, int count, char* const* args,
                        DWORD answerMilliseconds);
