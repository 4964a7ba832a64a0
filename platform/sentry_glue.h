// Glue between the SDK and its event reporter.
#pragma once

#include <cstdarg>
#include <string>

namespace TesselSDK {

// The reporter's logger hook: formats and forwards to the log with "[Sentry] ".
void SentryLogCallback(int level, const char* format, va_list args, void* userData);
void SentryCaptureMessage(const char* message, int level);
void SentryCaptureException(const char* type, const char* value);
void SentryAddBreadcrumb(const char* message, const char* type);

// SentryLogCallback's text: the formatted message (at most 1023 characters).
std::string FormatSentryLogText(const char* format, va_list args);

}  // namespace TesselSDK
