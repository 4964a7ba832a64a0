#include "sqm/sqm.h"

namespace TesselSDK {
struct SQM::SqmImpl {
    SqmCallbacks providers;
    SqmConfig config;
};
SQM::SQM() : impl(new SqmImpl()) {}
SQM::~SQM() = default;
void SQM::SetHostCallbacks(SqmCallbacks callbacks, const std::string&, int) { impl->providers = std::move(callbacks); }
void SQM::SetStreamerId(const std::string&) {}
void SQM::SetConfig(const SqmConfig& config) { impl->config = config; }
const SqmConfig& SQM::GetConfig() const { return impl->config; }
void SQM::PushWebRTCStatsReport(const char*, const char*) {}
void SQM::OnStreamingStart(const char*, const char*) {}
void SQM::OnStreamingEnd(const char*, const char*) {}
void SQM::MarkPlayerConnected() {}
void SQM::ClearStartTimes() {}
}  // namespace TesselSDK
