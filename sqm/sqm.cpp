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

void SQM::LogInfo(const std::string& text) const {
    if (impl->providers.logFn) impl->providers.logFn(0, text.c_str());
}

void SQM::LogWarn(const std::string& text) const {
    if (impl->providers.logFn) impl->providers.logFn(1, text.c_str());
}

void SQM::LogError(const std::string& text) const {
    if (impl->providers.logFn) impl->providers.logFn(2, text.c_str());
}

}  // namespace TesselSDK
