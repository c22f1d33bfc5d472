// The arguments of the second-instance call: SecondInstanceArgs, split as a command line, followed
// by this start's own arguments exactly as they came (an argument with blanks stays one argument).
#pragma once

// Answers a heap array of `*total` heap strings (free it with FreeArgumentArray), or null with
// *total 0 when memory runs out.
char** SecondInstanceArguments(const char* leadingText, int count, char* const* args, int* total);
