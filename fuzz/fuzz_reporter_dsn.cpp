// Any text as a reporting DSN: parsing never throws, and an accepted DSN gives
// an envelope URL and auth header built from its parts.
#include <cstddef>
#include <cstdint>
#include <string>

#include "standins/sentry_halyx/dsn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    SentryHalyx::Dsn dsn;
    if (SentryHalyx::ParseDsn(text, dsn)) {
        if (dsn.publicKey.empty() || dsn.host.empty() || dsn.projectId.empty()) __builtin_trap();
        std::string url = SentryHalyx::EnvelopeUrl(dsn);
        if (url.find("/envelope/") == std::string::npos) __builtin_trap();
        SentryHalyx::AuthHeader(dsn, "fuzz/1.0");
    }
    return 0;
}
