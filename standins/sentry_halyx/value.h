// The value type behind sentry_halyx_value_t: a JSON document.
#pragma once

#include <nlohmann/json.hpp>

#include "standins/sentry_halyx/sentry_halyx.h"

struct sentry_halyx_value_s {
    nlohmann::ordered_json json;
};

namespace SentryHalyx {

// Wraps a document into a new value that the caller owns.
sentry_halyx_value_t MakeValue(nlohmann::ordered_json json);
// Takes the document out of a value and frees it; null for a null value.
nlohmann::ordered_json TakeValue(sentry_halyx_value_t value);
// Read-only view of a value's document (a static null for a null value).
const nlohmann::ordered_json& ValueJson(sentry_halyx_value_t value);

// "debug", "info", "warning", "error" or "fatal"; "error" for an unknown level.
const char* LevelName(int level);

}  // namespace SentryHalyx
