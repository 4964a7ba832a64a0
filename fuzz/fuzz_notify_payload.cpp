// Any texts as a notification's integration key, payload and language: the
// body builder never throws, and a body it accepts is valid JSON whose
// "alarm_payload" is an object.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "core/notify_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    // Three texts separated by NUL bytes: key, payload, language.
    size_t a = text.find('\0');
    size_t b = a == std::string::npos ? std::string::npos : text.find('\0', a + 1);
    std::string key = text.substr(0, a);
    std::string payload = a == std::string::npos ? "" : text.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
    std::string lang = b == std::string::npos ? "en-US" : text.substr(b + 1);
    std::string body, warning, error;
    if (TesselSDK::BuildMobileNotifyBody(key.c_str(), payload.c_str(), lang, body, warning, error)) {
        auto doc = nlohmann::ordered_json::parse(body, nullptr, false);
        if (doc.is_discarded() || !doc["alarm_payload"].is_object()) __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();
    }
    return 0;
}
