#include "platform/sentry_glue.h"

#include <cstdio>
#include <string>

#include "log/logger.h"
#include "standins/sentry_halyx/sentry_halyx.h"

namespace TesselSDK {
namespace {

// The reporter's level as a log level.
int SentryLevelToLogLevel(int level) {
    if (level >= 2) return kLogError;
    if (level == 1) return kLogWarn;
    if (level == 0) return kLogInfo;
    return kLogDebug;
}

std::string IdText(const sentry_halyx_uuid_t& id) {
    char text[37];
    sentry_halyx_uuid_as_string(&id, text);
    return text;
}

}  // namespace

std::string FormatSentryLogText(const char* format, va_list args) {
    char buffer[1024];
    buffer[0] = '\0';
    if (format != nullptr && std::vsnprintf(buffer, sizeof buffer, format, args) < 0) buffer[0] = '\0';
    return buffer;
}

void SentryLogCallback(int level, const char* format, va_list args, void* /*userData*/) {
    try {
        LogMessage(SentryLevelToLogLevel(level), "[Sentry] " + FormatSentryLogText(format, args));
    } catch (...) {
        // Called from the reporter's threads: nothing may escape.
    }
}

void SentryCaptureMessage(const char* message, int level) {
    try {
        sentry_halyx_value_t event = sentry_halyx_value_new_message_event(static_cast<sentry_halyx_level_t>(level),
                                                                          "TesselSDK", message);
        const sentry_halyx_uuid_t id = sentry_halyx_capture_event(event);
        LogMessage(kLogDebug, "[Sentry] Event captured: " + IdText(id));
    } catch (...) {
    }
}

void SentryCaptureException(const char* type, const char* value) {
    try {
        sentry_halyx_value_t event = sentry_halyx_value_new_event();
        sentry_halyx_value_t exception = sentry_halyx_value_new_exception(type, value);
        sentry_halyx_event_add_exception(event, exception);
        const sentry_halyx_uuid_t id = sentry_halyx_capture_event(event);
        LogMessage(kLogDebug, "[Sentry] Exception captured: " + IdText(id));
    } catch (...) {
    }
}

void SentryAddBreadcrumb(const char* message, const char* type) {
    try {
        sentry_halyx_add_breadcrumb(sentry_halyx_value_new_breadcrumb(type, message));
        LogMessage(kLogDebug, std::string("[Sentry] Breadcrumb: ") + (message != nullptr ? message : ""));
    } catch (...) {
    }
}

}  // namespace TesselSDK
