#include "standins/sentry_halyx/diagnostics.h"

#include <cstdarg>
#include <cstdio>

namespace SentryHalyx {
namespace {

const char* LevelLabel(sentry_halyx_level_t level) {
    switch (level) {
        case SENTRY_HALYX_LEVEL_DEBUG: return "DEBUG";
        case SENTRY_HALYX_LEVEL_INFO: return "INFO";
        case SENTRY_HALYX_LEVEL_WARNING: return "WARN";
        case SENTRY_HALYX_LEVEL_ERROR: return "ERROR";
        default: return "FATAL";
    }
}

}  // namespace

void Diagnostics::Log(sentry_halyx_level_t level, const char* format, ...) const {
    if (!debug || format == nullptr) return;
    va_list args;
    va_start(args, format);
    try {
        if (logger != nullptr) {
            logger(level, format, args, userData);
        } else {
            // Without a logger function the output goes to stderr.
            std::fprintf(stderr, "[sentry] %s ", LevelLabel(level));
            std::vfprintf(stderr, format, args);
            std::fputc('\n', stderr);
        }
    } catch (...) {
        // A throwing logger function must not break the reporter.
    }
    va_end(args);
}

}  // namespace SentryHalyx
