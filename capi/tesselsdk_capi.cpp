#include "tesselsdk/tesselsdk.h"

#include <string>

#include "log/logger.h"
#include "tesselsdk/link_logic.h"

struct TesselSDKHandle {
    std::string sdkVersion;
    int geType = 0;
    TesselSDK::LinkLogic* logic = nullptr;
};

extern "C" {
TesselSDKHandle* TesselSDK_Create(const char* sdkVersion, int geType) {
    auto* h = new TesselSDKHandle();
    h->sdkVersion = sdkVersion ? sdkVersion : "";
    h->geType = geType;
    return h;
}
void TesselSDK_Destroy(TesselSDKHandle* handle) {
    if (!handle) return;
    TesselSDK::LinkLogic::Destroy(handle->logic);
    delete handle;
}
void TesselSDK_Initialize(TesselSDKHandle*, TesselSDK_OnInitializedFn) {}
void TesselSDK_Shutdown(TesselSDKHandle*) {}
void TesselSDK_HandlePlayerConnected(TesselSDKHandle*, const char*, int, TesselSDK_PlayerConnectedDoneFn) {}
int TesselSDK_GetBitrateConfig(TesselSDKHandle*, const char*, int*, int*, int*) { return 0; }
void TesselSDK_SendMobileNotify(TesselSDKHandle*, const char*, const char*, const char*) {}
void TesselSDK_PushWebRTCStatsReport(TesselSDKHandle*, const char*, const char*) {}
const char* TesselSDK_GetWindowsEventsApiUrl(TesselSDKHandle*) { return ""; }
const char* TesselSDK_GetEventApiUrl(TesselSDKHandle*) { return ""; }
void TesselSDK_InitLogger(void) { TesselSDK::Logger::Instance().Init(); }
void TesselSDK_Log(void*, int level, const char* message) { TesselSDK::LogMessage(level, message ? message : ""); }
void TesselSDK_SendTallo(TesselSDKHandle*, const char*, const char*, const char*, const char*) {}
void TesselSDK_SetInitSentry(TesselSDKHandle*, TesselSDK_InitSentryFn) {}
void TesselSDK_SetCreateStreamer(TesselSDKHandle*, TesselSDK_CreateStreamerFn) {}
void TesselSDK_SetStartStreaming(TesselSDKHandle*, TesselSDK_StartStreamingFn) {}
void TesselSDK_SetBitrateCallback(TesselSDKHandle*, TesselSDK_BitrateFn) {}
void TesselSDK_SetOnConnectionReady(TesselSDKHandle*, TesselSDK_OnConnectionReadyFn) {}
void TesselSDK_SetOnApplyRTCConfig(TesselSDKHandle*, TesselSDK_OnApplyRTCConfigFn) {}
}
