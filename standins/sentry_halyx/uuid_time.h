// Event ids and timestamps.
#pragma once

#include <cstdint>
#include <string>

#include "standins/sentry_halyx/sentry_halyx.h"

namespace SentryHalyx {

// A random (version 4) UUID.
sentry_halyx_uuid_t NewUuid();
// Lower-case "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx".
std::string UuidToString(const sentry_halyx_uuid_t& uuid);
// Inverse of UuidToString (upper case and a missing hyphen layout rejected
// alike: exactly 36 characters with hyphens at 8, 13, 18, 23). False on error.
bool UuidFromString(const std::string& text, sentry_halyx_uuid_t& out);

// Now as RFC 3339 UTC text with milliseconds, "2024-01-31T23:59:59.123Z".
std::string TimestampNow();

// A uniform number in [0, 1) for sampling.
double RandomUnit();

}  // namespace SentryHalyx
