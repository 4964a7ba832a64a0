// The options object handed to sentry_halyx_init.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "standins/sentry_halyx/sentry_halyx.h"

namespace SentryHalyx {

// Sends one envelope; returns the HTTP status (0 for a transport failure).
using Transport =
    std::function<int(const std::string& url, const std::map<std::string, std::string>& headers,
                      const std::string& envelope)>;

}  // namespace SentryHalyx

struct sentry_halyx_options_s {
    std::string dsn;
    bool debug = false;
    std::string databasePath = ".sentry-native";
    std::string release;
    std::string environment = "production";
    double sampleRate = 1.0;
    sentry_halyx_logger_function_t logger = nullptr;
    void* loggerData = nullptr;
    // Empty: envelopes go out over the library's HTTP client.
    SentryHalyx::Transport transport;
};
