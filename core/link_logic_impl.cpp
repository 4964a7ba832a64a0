#include "core/link_logic_impl.h"

#include <string>
#include <utility>

#include "log/env.h"
#include "log/logger.h"
#include "net/http_client.h"
#include "platform/account.h"
#include "platform/probes.h"
#include "util/clock.h"

namespace TesselSDK {

LinkLogic::LinkLogic() = default;
LinkLogic::LinkLogic(const LinkLogic&) = default;
LinkLogic& LinkLogic::operator=(const LinkLogic&) = default;
LinkLogic::~LinkLogic() = default;

LinkLogic* LinkLogic::Create(const char* sdkVersion, int geType, PlatformInterface platform) {
    return new LinkLogicImpl(sdkVersion, geType, std::move(platform));
}

void LinkLogic::Destroy(LinkLogic* logic) { delete logic; }

LinkLogicImpl::LinkLogicImpl(const char* version, int type, PlatformInterface host,
                             std::chrono::milliseconds drainLimit)
    : sdkVersion(version ? version : ""), platform(std::move(host)), geType(type), telemetryDrainLimit(drainLimit) {
    Logger::Instance().Init();
    streamerId = GetEnvVar("member_no") + "-" + std::to_string(geType) + "-" + std::to_string(NowEpochMs());
    collector.SetHostCallbacks(BuildProviderTable(), sdkVersion, geType);
    collector.SetStreamerId(streamerId);
    StartTelemetryWorker();
}

LinkLogicImpl::~LinkLogicImpl() {
    try {
        StopTelemetryWorker();
    } catch (...) {
    }
}

SqmCallbacks LinkLogicImpl::BuildProviderTable() {
    SqmCallbacks table;
    table.logFn = [](int level, const char* text) { LogMessage(level, text); };
    table.httpGetFn = [](const std::string& url, std::function<void(int, const std::string&)> done) {
        HttpGet(url, HttpCompletion(std::move(done)));
    };
    table.httpPostFn = [](const std::string& url, const std::string& body, const HttpHeaders& headers,
                          std::function<void(int, const std::string&)> done) {
        HttpPostJson(url, body, headers, HttpCompletion(std::move(done)));
    };
    table.envFn = [](const char* name) { return GetEnvVar(name ? name : ""); };
    table.nowMsFn = [] { return NowEpochMs(); };
    table.timeZoneFn = [] { return GetTimeZoneOffset(); };
    table.cpuUsageFn = [] { return GetCpuUsagePercent(); };
    table.gpuUsageFn = [] { return GetGpuUsagePercent(); };
    table.batteryLevelFn = [] { return GetBatteryPercent(); };
    table.osVersionFn = [] { return GetOsVersion(); };
    table.cpuNameFn = [] { return GetCpuName(); };
    table.memoryCapacityFn = [] { return GetTotalMemoryGb(); };
    table.gpuMemoryCapacityFn = [] { return GetGpuMemoryGb(); };
    table.deviceModelFn = [] { return GetDeviceModel(); };
    table.deviceTypeFn = [] { return GetDeviceType(); };
    table.screenSizeFn = [](int& width, int& height) { GetScreenSize(width, height); };
    table.gpuInfoFn = [](std::string& gpuName, int& hardwareEncoder) { DetectGpu(gpuName, hardwareEncoder); };
    // Through the virtual operation, as every other caller of the lookup.
    LinkLogic* self = this;
    table.bitrateConfigFn = [self](int& minBitrate, int& maxBitrate, int& fps) {
        return self->GetBitrateConfig("AUTO", &minBitrate, &maxBitrate, &fps);
    };
    table.accessTokenFn = [] { return GetAccessToken(); };
    return table;
}

bool LinkLogicImpl::GetBitrateConfig(const char* profile, int* minBitrate, int* maxBitrate, int* fps) {
    const BitrateProfile* p = FindBitrateProfile(config, profile);
    if (!p) return false;
    *minBitrate = p->MinBitrate;
    *maxBitrate = p->MaxBitrate;
    *fps = p->Fps;
    return true;
}

bool LinkLogicImpl::GetEncoderConfig(const char* profile, EncoderSettings* out) {
    const BitrateProfile* p = FindBitrateProfile(config, profile);
    if (!p) return false;
    out->MinQP = p->MinQP;
    out->MaxQP = p->MaxQP;
    out->H264Profile = p->H264Profile;
    out->Multipass = p->Multipass;
    out->EncoderPreset = p->EncoderPreset;
    out->RateControl = p->RateControl;
    out->DegradationPreference = p->DegradationPreference;
    return true;
}

}  // namespace TesselSDK
