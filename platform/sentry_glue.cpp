#include "platform/sentry_glue.h"

namespace TesselSDK {
void SentryLogCallback(int, const char*, va_list, void*) {}
void SentryCaptureMessage(const char*, int) {}
void SentryCaptureException(const char*, const char*) {}
void SentryAddBreadcrumb(const char*, const char*) {}
}  // namespace TesselSDK
