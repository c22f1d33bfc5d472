// %NAME% references in settings, arguments and paths: JAVA_HOME (the registry runtime's home),
// APPDIR, DATE, TIME, AVAILRAM/TOTALRAM with an optional percentage, and environment variables.
#pragma once

// A malloc'd copy of `text` with its references expanded (never null unless memory runs out).
// Safe to call from several threads at once.
char* ExpandVariables(const char* text);

// Expands a log-file path and creates the folders it needs (not the file); answers the expanded
// path, malloc'd.
char* PrepareOutputPath(const char* path);
