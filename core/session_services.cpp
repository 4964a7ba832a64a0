#include "core/link_logic_impl.h"

namespace TesselSDK {
void LinkLogicImpl::Shutdown() {}
std::string LinkLogicImpl::GetWindowsEventsApiUrl() { return config.windowsEventsApiUrl; }
std::string LinkLogicImpl::GetEventApiUrl() { return config.eventApiUrl; }
void LinkLogicImpl::SendMobileNotify(const char*, const char*, const char*) {}
void LinkLogicImpl::PushWebRTCStatsReport(const char* p, const char* s) { collector.PushWebRTCStatsReport(p, s); }
void LinkLogicImpl::HandleStreamingStarted(const char* p, const char* c) { collector.OnStreamingStart(p, c); }
void LinkLogicImpl::HandleStreamingEnded(const char* p, const char* r) { collector.OnStreamingEnd(p, r); }
}  // namespace TesselSDK
