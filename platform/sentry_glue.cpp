#include "platform/sentry_glue.h"

#include <sentry_halyx.h>

#include <cstdio>
#include <string>

#include "log/logger.h"

namespace TesselSDK {
namespace {

// The reporter's level as a log level.
int SentryLevelToLogLevel(int level) {
    if (level >= 2) return kLogError;
    if (level == 1) return kLogWarn;
    if (level == 0) return kLogInfo;
    return kLogDebug;
}

void ForwardLog(sentry_level_t level, const char* format, va_list args, void* userData) {
    SentryLogCallback(static_cast<int>(level), format, args, userData);
}

std::string IdText(const sentry_uuid_t& id) {
    char text[37];
    sentry_halyx_uuid_as_string(&id, text);
    return text;
}

// The formatted message (at most 1023 characters).
std::string FormatSentryLogText(const char* format, va_list args) {
    char buffer[1024];
    buffer[0] = '\0';
    if (format != nullptr && std::vsnprintf(buffer, sizeof buffer, format, args) < 0) buffer[0] = '\0';
    return buffer;
}

}  // namespace

void SentryLogCallback(int level, const char* format, va_list args, void* /*userData*/) {
    try {
        LogMessage(SentryLevelToLogLevel(level), "[Sentry] " + FormatSentryLogText(format, args));
    } catch (...) {
        // Called from the reporter's threads: nothing may escape.
    }
}

void SentryCaptureMessage(const char* message, int level) {
    sentry_value_t event =
        sentry_halyx_value_new_message_event(static_cast<sentry_level_t>(level), "TesselSDK", message);
    const sentry_uuid_t id = sentry_halyx_capture_event(event);
    LogMessage(kLogDebug, "[Sentry] Event captured: " + IdText(id));
}

void SentryCaptureException(const char* type, const char* value) {
    sentry_value_t event = sentry_halyx_value_new_event();
    sentry_halyx_event_add_exception(event, sentry_halyx_value_new_exception(type, value));
    const sentry_uuid_t id = sentry_halyx_capture_event(event);
    LogMessage(kLogDebug, "[Sentry] Exception captured: " + IdText(id));
}

void SentryAddBreadcrumb(const char* message, const char* type) {
    sentry_halyx_add_breadcrumb(sentry_halyx_value_new_breadcrumb(type, message));
    LogMessage(kLogDebug, std::string("[Sentry] Breadcrumb: ") + (message != nullptr ? message : ""));
}

bool SentryStart(const char* dsn, const char* release) {
    sentry_options_t* options = sentry_halyx_options_new();
    if (options == nullptr) return false;
    sentry_halyx_options_set_dsn(options, dsn);
    sentry_halyx_options_set_debug(options, 1);
    sentry_halyx_options_set_database_path(options, ".sentry-native");
    sentry_halyx_options_set_release(options, release);
    sentry_halyx_options_set_sample_rate(options, 1.0);
    sentry_halyx_options_set_traces_sample_rate(options, 1.0);
    sentry_halyx_options_set_logger(options, &ForwardLog, nullptr);
    return sentry_halyx_init(options) == 0;
}

void SentrySetTag(const char* key, const char* value) { sentry_halyx_set_tag(key, value); }

void SentryFlushAndClose(std::uint64_t timeoutMs) {
    sentry_halyx_flush(timeoutMs);
    sentry_halyx_close();
}

}  // namespace TesselSDK
