// Glue between the SDK and its event reporter.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

namespace TesselSDK {

// The reporter's logger hook: formats (at most 1023 characters) and forwards to the
// log with "[Sentry] ".
void SentryLogCallback(int level, const char* format, va_list args, void* userData);
void SentryCaptureMessage(const char* message, int level);
void SentryCaptureException(const char* type, const char* value);
void SentryAddBreadcrumb(const char* message, const char* type);

// Starts the reporter with `dsn`, `release` and SentryLogCallback as its
// logger; true when it runs.
bool SentryStart(const char* dsn, const char* release);
void SentrySetTag(const char* key, const char* value);
// Sends what is queued for up to `timeoutMs`, then closes the reporter.
void SentryFlushAndClose(std::uint64_t timeoutMs);

}  // namespace TesselSDK
