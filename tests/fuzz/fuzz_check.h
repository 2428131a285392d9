// What every fuzz target shares: a failed expectation is a crash libFuzzer keeps.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                            \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", __FILE__, __LINE__,  \
                         #condition);                                                    \
            std::abort();                                                                \
        }                                                                                \
    } while (false)
