// Marks a function that takes a printf format, so that the compiler checks its callers.
#pragma once

// MinGW's compiler checks "printf" against the system runtime's own format language, which
// lacks %zu and %llu; the agent formats with the C99 one (the MinGW runtime's printf, which
// the Windows build selects).
#if defined(__MINGW32__)
#define ORVEL_PRINTF_FORMAT(format_index, first_argument) \
    __attribute__((format(gnu_printf, format_index, first_argument)))
#else
#define ORVEL_PRINTF_FORMAT(format_index, first_argument) \
    __attribute__((format(printf, format_index, first_argument)))
#endif
