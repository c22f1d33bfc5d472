// Rules for names of files that the launcher, corvane-build and the tests must all read the same way.
// Portable.
#pragma once

// Whether Windows takes the name for a device rather than a file: CON, PRN, AUX, NUL, CONIN$,
// CONOUT$, COM0 to COM9 and LPT0 to LPT9, in any letter case, with or without an extension and
// with blanks before it ("nul .txt" is the null device too).
bool IsDeviceName(const char* name);
