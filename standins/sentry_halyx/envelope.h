// Turning a captured event into an ingestion envelope.
#pragma once

#include <deque>
#include <string>

#include <nlohmann/json.hpp>

namespace SentryHalyx {

// name/version of this client, as sent in the auth header and the event.
extern const char* const kClientName;
extern const char* const kClientVersion;
extern const char* const kEnvelopeContentType;  // "application/x-sentry-envelope"

// What a capture adds from the running client.
struct EventScope {
    std::string release;
    std::string environment;
    nlohmann::ordered_json tags = nlohmann::ordered_json::object();  // name -> text
    std::deque<nlohmann::ordered_json> breadcrumbs;                   // oldest first
};

// Completes an event: event id and timestamp when missing, platform, level
// ("error" when missing), release and environment when set, the scope's tags
// under the event's own, the breadcrumbs and the client's name.
void PrepareEvent(nlohmann::ordered_json& event, const EventScope& scope);

// Header line, item header line and the event. Texts that are not valid
// UTF-8 have their invalid bytes replaced by U+FFFD.
std::string SerializeEnvelope(const nlohmann::ordered_json& event, const std::string& dsn);

}  // namespace SentryHalyx
