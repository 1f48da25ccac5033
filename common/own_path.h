// The full path of the running executable.
#pragma once

#include <string>

// The path as the system reports it, or empty text when it cannot be determined. Paths longer
// than the classic 260 units are fetched with a growing buffer (up to 32,768 units) instead of
// being cut, so a caller never works on a truncated path.
std::u16string OwnExecutablePath();

// The question as rules ask it; tests put a fixed answer here.
using OwnExecutablePathFn = std::u16string (*)();
extern OwnExecutablePathFn g_ownExecutablePath;
