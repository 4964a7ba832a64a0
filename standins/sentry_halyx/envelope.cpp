#include "standins/sentry_halyx/envelope.h"

#include "standins/sentry_halyx/uuid_time.h"
#include "util/json_text.h"

namespace SentryHalyx {

const char* const kClientName = "sentry.native.halyx";
const char* const kClientVersion = "0.8.3";
const char* const kEnvelopeContentType = "application/x-sentry-envelope";

void PrepareEvent(nlohmann::ordered_json& event, const EventScope& scope) {
    if (!event.is_object()) event = nlohmann::ordered_json::object();
    if (!event.contains("event_id") || !event["event_id"].is_string()) {
        event["event_id"] = UuidToString(NewUuid());
    }
    if (!event.contains("timestamp")) event["timestamp"] = TimestampNow();
    event["platform"] = "native";
    if (!event.contains("level")) event["level"] = "error";
    if (!event.contains("release") && !scope.release.empty()) event["release"] = scope.release;
    if (!event.contains("environment") && !scope.environment.empty()) event["environment"] = scope.environment;

    nlohmann::ordered_json tags = scope.tags.is_object() ? scope.tags : nlohmann::ordered_json::object();
    if (event.contains("tags") && event["tags"].is_object()) {
        for (const auto& item : event["tags"].items()) tags[item.key()] = item.value();
    }
    if (!tags.empty()) event["tags"] = std::move(tags);

    if (!scope.breadcrumbs.empty()) {
        nlohmann::ordered_json values = nlohmann::ordered_json::array();
        for (const auto& crumb : scope.breadcrumbs) values.push_back(crumb);
        event["breadcrumbs"] = {{"values", std::move(values)}};
    }
    event["sdk"] = {{"name", kClientName}, {"version", kClientVersion}};
}

std::string SerializeEnvelope(const nlohmann::ordered_json& event, const std::string& dsn) {
    nlohmann::ordered_json header = nlohmann::ordered_json::object();
    if (event.is_object() && event.contains("event_id")) header["event_id"] = event["event_id"];
    header["dsn"] = dsn;
    header["sent_at"] = TimestampNow();

    const std::string payload = TesselSDK::CompactJsonText(event);
    nlohmann::ordered_json itemHeader = {{"type", "event"}, {"length", payload.size()}};
    return TesselSDK::CompactJsonText(header) + "\n" + TesselSDK::CompactJsonText(itemHeader) + "\n" + payload;
}

}  // namespace SentryHalyx
