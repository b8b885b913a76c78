#pragma once
// A property that fails ends the run as a finding, with the property's text.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(holds)                                                                      \
    do {                                                                                       \
        if (!(holds)) {                                                                        \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #holds, __FILE__, __LINE__); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)
