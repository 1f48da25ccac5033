// A property that every input must keep. A broken one prints what was expected and traps, so the
// fuzzer stores the input as a crash and the log says which property failed, not only where.
#pragma once

#include <cstdio>

#define FUZZ_PROPERTY(condition, what)                                                     \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "property failed: %s\n  (%s, %s:%d)\n", what, #condition, \
                         __FILE__, __LINE__);                                              \
            __builtin_trap();                                                              \
        }                                                                                  \
    } while (0)
