// The default transport: one POST over the library's HTTP client.
#pragma once

#include "standins/sentry_halyx/options.h"

namespace SentryHalyx {

// Timeouts of an envelope post, in ms: resolve, connect, send, receive.
constexpr int kPostResolveMs = 2000;
constexpr int kPostConnectMs = 2000;
constexpr int kPostSendMs = 5000;
constexpr int kPostReceiveMs = 5000;

int HttpTransport(const std::string& url, const std::map<std::string, std::string>& headers,
                  const std::string& envelope);

}  // namespace SentryHalyx
