#include "sqm/sqm.h"

#include "sqm/sqm_impl.h"

namespace TesselSDK {

SQM::SQM() : impl(new SqmImpl()) {}

SQM::~SQM() {
    // Retries refer to this collector: stop them before any state goes away.
    // One still waiting reports itself dropped as it stops.
    impl->retries.StopAndJoin();
}

void SQM::SetHostCallbacks(SqmCallbacks callbacks, const std::string& clientVersion, int /*geType*/) {
    impl->providers = std::move(callbacks);
    impl->clientVersion = clientVersion;
}

void SQM::SetStreamerId(const std::string& streamerId) { impl->streamerId = streamerId; }

void SQM::SetConfig(const SqmConfig& config) {
    std::lock_guard<std::mutex> lock(impl->configMutex);
    impl->config = config;
}

void SQM::SetSteadyClockForTesting(std::function<std::chrono::steady_clock::time_point()> now) {
    if (now) impl->steadyNow = std::move(now);
}

void SQM::SetRetryWaitForTesting(std::function<std::chrono::milliseconds(std::chrono::milliseconds)> wait) {
    impl->retryWait = std::move(wait);
}

namespace {

// The provider takes a C string: a NUL inside is handed on as "\0", the way
// the log file shows one, so the text arrives whole.
void LogThrough(const SqmCallbacks& providers, int level, const std::string& text) {
    if (!providers.logFn) return;
    if (text.find('\0') == std::string::npos) {
        providers.logFn(level, text.c_str());
        return;
    }
    std::string whole;
    for (const char c : text) {
        if (c == '\0') {
            whole += "\\0";
        } else {
            whole.push_back(c);
        }
    }
    providers.logFn(level, whole.c_str());
}

}  // namespace

void SQM::LogInfo(const std::string& text) const { LogThrough(impl->providers, 0, text); }

void SQM::LogWarn(const std::string& text) const { LogThrough(impl->providers, 1, text); }

void SQM::LogError(const std::string& text) const { LogThrough(impl->providers, 2, text); }

}  // namespace TesselSDK
