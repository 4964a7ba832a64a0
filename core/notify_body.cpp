#include "core/notify_body.h"

#include <exception>
#include <utility>

#include <nlohmann/json.hpp>

#include "util/json_parse.h"
#include "util/text.h"

namespace TesselSDK {

bool BuildMobileNotifyBody(const char* integrationKey, const char* alarmPayload, const std::string& langCode,
                           std::string& body, std::string& warning, std::string& error) {
    std::string payloadText;
    if (alarmPayload != nullptr && alarmPayload[0] != '\0') {
        payloadText = alarmPayload;
    } else {
        payloadText = "{}";
        warning = "alarm_payload is empty, using {} as default.";
    }
    nlohmann::ordered_json alarm;
    try {
        alarm = ParseOutsideJson(payloadText);
    } catch (const std::exception&) {
        error = "alarm_payload is not valid JSON.";
        return false;
    }
    if (!alarm.is_object()) {
        error = "alarm_payload must be a JSON object.";
        return false;
    }
    const char* key = integrationKey != nullptr ? integrationKey : "";
    const char* payload = alarmPayload != nullptr ? alarmPayload : "";
    // The payload has been parsed strictly, so it is well-formed UTF-8; the
    // others are checked here, as the JSON writer would refuse them.
    if (!IsValidUtf8(key) || !IsValidUtf8(langCode)) {
        error = "Notification text is not valid UTF-8.";
        return false;
    }
    nlohmann::ordered_json doc;
    doc["integration_key"] = key;
    doc["payload"] = payload;
    doc["lang_code"] = langCode;
    doc["alarm_payload"] = std::move(alarm);
    body = doc.dump();
    return true;
}

}  // namespace TesselSDK
