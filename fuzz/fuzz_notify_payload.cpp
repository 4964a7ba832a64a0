// Any integration key, payload and language (three texts split at NUL bytes): the body builder never throws,
// a body it accepts is JSON whose "alarm_payload" is an object, and a refusal says why.
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "core/notify_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t a = text.find('\0'), b = a == std::string::npos ? a : text.find('\0', a + 1);
    const std::string key = text.substr(0, a), payload = a == std::string::npos ? "" : text.substr(a + 1, b - a - 1);
    const std::string lang = b == std::string::npos ? "en-US" : text.substr(b + 1);
    std::string body, warning, error;
    const bool built = TesselSDK::BuildMobileNotifyBody(key.c_str(), payload.c_str(), lang, body, warning, error);
    auto doc = nlohmann::ordered_json::parse(body, nullptr, false);
    if (built ? doc.is_discarded() || !doc["alarm_payload"].is_object() : error.empty()) __builtin_trap();
    return 0;
}
