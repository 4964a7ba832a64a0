#include "standins/sentry_halyx/value.h"

#include <new>
#include <utility>

#include "standins/sentry_halyx/uuid_time.h"

namespace SentryHalyx {

sentry_halyx_value_t MakeValue(nlohmann::ordered_json json) {
    return new (std::nothrow) sentry_halyx_value_s{std::move(json)};
}

nlohmann::ordered_json TakeValue(sentry_halyx_value_t value) {
    if (value == nullptr) return nullptr;
    nlohmann::ordered_json json = std::move(value->json);
    delete value;
    return json;
}

const nlohmann::ordered_json& ValueJson(sentry_halyx_value_t value) {
    static const nlohmann::ordered_json kNull;
    return value != nullptr ? value->json : kNull;
}

const char* LevelName(int level) {
    switch (level) {
        case SENTRY_HALYX_LEVEL_DEBUG: return "debug";
        case SENTRY_HALYX_LEVEL_INFO: return "info";
        case SENTRY_HALYX_LEVEL_WARNING: return "warning";
        case SENTRY_HALYX_LEVEL_FATAL: return "fatal";
        default: return "error";
    }
}

}  // namespace SentryHalyx

namespace {

nlohmann::ordered_json NewEventJson() {
    nlohmann::ordered_json event = nlohmann::ordered_json::object();
    event["event_id"] = SentryHalyx::UuidToString(SentryHalyx::NewUuid());
    event["timestamp"] = SentryHalyx::TimestampNow();
    return event;
}

}  // namespace

extern "C" {

sentry_halyx_value_t sentry_halyx_value_new_event(void) {
    try {
        return SentryHalyx::MakeValue(NewEventJson());
    } catch (...) {
        return nullptr;
    }
}

sentry_halyx_value_t sentry_halyx_value_new_message_event(sentry_halyx_level_t level, const char* logger,
                                                          const char* text) {
    try {
        nlohmann::ordered_json event = NewEventJson();
        event["level"] = SentryHalyx::LevelName(level);
        if (logger != nullptr) event["logger"] = std::string(logger);
        if (text != nullptr) event["message"] = {{"formatted", std::string(text)}};
        return SentryHalyx::MakeValue(std::move(event));
    } catch (...) {
        return nullptr;
    }
}

sentry_halyx_value_t sentry_halyx_value_new_exception(const char* type, const char* value) {
    try {
        nlohmann::ordered_json exception = nlohmann::ordered_json::object();
        exception["type"] = nullptr;
        exception["value"] = nullptr;
        if (type != nullptr) exception["type"] = std::string(type);
        if (value != nullptr) exception["value"] = std::string(value);
        return SentryHalyx::MakeValue(std::move(exception));
    } catch (...) {
        return nullptr;
    }
}

sentry_halyx_value_t sentry_halyx_value_new_breadcrumb(const char* type, const char* message) {
    try {
        nlohmann::ordered_json crumb = nlohmann::ordered_json::object();
        crumb["timestamp"] = SentryHalyx::TimestampNow();
        if (type != nullptr) crumb["type"] = std::string(type);
        if (message != nullptr) crumb["message"] = std::string(message);
        return SentryHalyx::MakeValue(std::move(crumb));
    } catch (...) {
        return nullptr;
    }
}

void sentry_halyx_event_add_exception(sentry_halyx_value_t event, sentry_halyx_value_t exception) {
    try {
        nlohmann::ordered_json item = SentryHalyx::TakeValue(exception);
        if (event == nullptr || !event->json.is_object() || !item.is_object()) return;
        nlohmann::ordered_json& holder = event->json["exception"];
        if (!holder.is_object()) holder = nlohmann::ordered_json::object();
        nlohmann::ordered_json& values = holder["values"];
        if (!values.is_array()) values = nlohmann::ordered_json::array();
        values.push_back(std::move(item));
    } catch (...) {
    }
}

void sentry_halyx_value_decref(sentry_halyx_value_t value) { delete value; }

}  // extern "C"
