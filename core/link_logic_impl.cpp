#include "core/link_logic_impl.h"

namespace TesselSDK {

LinkLogic::LinkLogic() = default;
LinkLogic::LinkLogic(const LinkLogic&) = default;
LinkLogic& LinkLogic::operator=(const LinkLogic&) = default;
LinkLogic::~LinkLogic() = default;

LinkLogic* LinkLogic::Create(const char* sdkVersion, int geType, PlatformInterface platform) {
    return new LinkLogicImpl(sdkVersion, geType, std::move(platform));
}

void LinkLogic::Destroy(LinkLogic* logic) { delete logic; }

LinkLogicImpl::LinkLogicImpl(const char* version, int type, PlatformInterface host)
    : sdkVersion(version ? version : ""), platform(std::move(host)), geType(type) {}
LinkLogicImpl::~LinkLogicImpl() = default;

void LinkLogicImpl::Initialize(std::function<void(bool)>) {}
void LinkLogicImpl::Shutdown() {}
void LinkLogicImpl::HandlePlayerConnected(const char*, bool, std::function<void(bool, int, const char*)>) {}
void LinkLogicImpl::SendTallo(const char*, const char*, const char*, const char*) {}
bool LinkLogicImpl::GetBitrateConfig(const char*, int*, int*, int*) { return false; }
bool LinkLogicImpl::GetEncoderConfig(const char*, EncoderSettings*) { return false; }
std::string LinkLogicImpl::GetWindowsEventsApiUrl() { return config.windowsEventsApiUrl; }
std::string LinkLogicImpl::GetEventApiUrl() { return config.eventApiUrl; }
void LinkLogicImpl::SendMobileNotify(const char*, const char*, const char*) {}
void LinkLogicImpl::PushWebRTCStatsReport(const char* p, const char* s) { collector.PushWebRTCStatsReport(p, s); }
void LinkLogicImpl::HandleStreamingStarted(const char* p, const char* c) { collector.OnStreamingStart(p, c); }
void LinkLogicImpl::HandleStreamingEnded(const char* p, const char* r) { collector.OnStreamingEnd(p, r); }

}  // namespace TesselSDK
