// The reporter's own diagnostic output: through the logger function of the
// options, only when debug is on.
#pragma once

#include "standins/sentry_halyx/sentry_halyx.h"

namespace SentryHalyx {

struct Diagnostics {
    bool debug = false;
    sentry_halyx_logger_function_t logger = nullptr;
    void* userData = nullptr;

#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    void Log(sentry_halyx_level_t level, const char* format, ...) const;
};

}  // namespace SentryHalyx
