#pragma once

#include <cstdio>
#include <cstdlib>

/// A property that must hold for every input. A failure aborts, so libFuzzer
/// keeps the input as a crash and stops; the message says which property.
#define FUZZ_CHECK(cond)                                                                                     \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);                \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)
