// The exported flat interface. Every function catches everything: no
// exception ever reaches the host. What a host callback throws ends at the
// function that made the call, logged as an error of its operation, and
// that call's outcome is still delivered once.
#include "tesselsdk/tesselsdk.h"

#include <exception>
#include <string>

#include "capi/handle.h"
#include "log/logger.h"
#include "tesselsdk/link_logic.h"

using TesselSDK::LinkLogic;

namespace {

const char kEmpty[] = "";

const char* OrEmpty(const char* text) { return text ? text : kEmpty; }

LinkLogic* LogicOf(TesselSDKHandle* handle) { return handle ? handle->logic.load() : nullptr; }

// Runs `fn`; nothing it throws leaves.
template <typename Fn>
void Contained(Fn&& fn) noexcept {
    try {
        fn();
    } catch (...) {
    }
}

// Runs `fn`, which calls the host's callbacks: the object keeps its own
// failures, so what leaves it is the host's, logged here as an error of
// `operation`. Returns false when that happened.
template <typename Fn>
bool ContainedHostCalls(const char* operation, Fn&& fn) noexcept {
    try {
        fn();
        return true;
    } catch (...) {
        Contained([operation] {
            std::string what = "an exception of unknown type";
            try {
                throw;
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
            TesselSDK::LogMessage(TesselSDK::kLogError,
                                  std::string("[TesselSDK::") + operation + "] Host callback threw: " + what);
        });
        return false;
    }
}

// The answer of a URL getter, kept in a per-thread text of that getter's own
// (each instantiation has its own) until the next call on the same thread.
template <std::string (LinkLogic::*Getter)()>
const char* PerThreadText(TesselSDKHandle* handle) {
    const char* result = kEmpty;
    Contained([&] {
        LinkLogic* logic = LogicOf(handle);
        if (!logic) return;
        thread_local std::string text;
        text = (logic->*Getter)();
        result = text.c_str();
    });
    return result;
}

}  // namespace

extern "C" {

TesselSDKHandle* TesselSDK_Create(const char* sdkVersion, int geType) {
    try {
        auto* handle = new TesselSDKHandle();
        handle->sdkVersion = OrEmpty(sdkVersion);
        handle->geType = geType;
        return handle;
    } catch (...) {
        return nullptr;
    }
}

void TesselSDK_Destroy(TesselSDKHandle* handle) {
    if (!handle) return;
    Contained([&] { LinkLogic::Destroy(handle->logic.exchange(nullptr)); });
    delete handle;
}

void TesselSDK_Initialize(TesselSDKHandle* handle, TesselSDK_OnInitializedFn onInitialized) {
    if (!handle) return;
    // A repeated initialisation replaces the object: the old one (and its
    // telemetry worker) goes first.
    LinkLogic* logic = nullptr;
    Contained([&] {
        LinkLogic::Destroy(handle->logic.exchange(nullptr));
        logic = LinkLogic::Create(handle->sdkVersion.c_str(), handle->geType, TesselSDK::BuildPlatformInterface(handle));
        handle->logic.store(logic);
    });
    // Set before the host's function runs: it is not called again, also when it throws.
    bool reported = false;
    const auto report = [&reported, onInitialized](bool ok) {
        reported = true;
        if (onInitialized) onInitialized(ok);
    };
    if (logic) ContainedHostCalls("Initialize", [&] { logic->Initialize(report); });
    // The object reports every outcome of its own; this is the one a host
    // callback's exception cut short, or a failure to make the object.
    if (!reported) ContainedHostCalls("Initialize", [&] { report(false); });
}

void TesselSDK_Shutdown(TesselSDKHandle* handle) {
    Contained([&] {
        if (LinkLogic* logic = LogicOf(handle)) logic->Shutdown();
    });
}

void TesselSDK_HandlePlayerConnected(TesselSDKHandle* handle, const char* playerId, int sendOffer,
                                     TesselSDK_PlayerConnectedDoneFn done) {
    LinkLogic* logic = LogicOf(handle);
    if (!logic) return;
    // Never empty, so the object reports through this call's completion; set
    // before `done` runs, so that `done` runs once, also when it throws.
    bool reported = false;
    const auto report = [&reported, done](bool ok, int httpStatus, const char* message) {
        reported = true;
        if (done) done(ok, httpStatus, message);
    };
    const bool returned = ContainedHostCalls(
        "HandlePlayerConnected", [&] { logic->HandlePlayerConnected(OrEmpty(playerId), sendOffer != 0, report); });
    if (!returned && !reported)
        ContainedHostCalls("HandlePlayerConnected", [&] { report(false, 0, "Host callback threw"); });
}

int TesselSDK_GetBitrateConfig(TesselSDKHandle* handle, const char* profile, int* minBitrate, int* maxBitrate,
                               int* fps) {
    int result = 0;
    Contained([&] {
        LinkLogic* logic = LogicOf(handle);
        if (!logic) return;
        int minValue = 0;
        int maxValue = 0;
        int fpsValue = 0;
        const bool found = logic->GetBitrateConfig(profile, &minValue, &maxValue, &fpsValue);
        if (minBitrate) *minBitrate = minValue;
        if (maxBitrate) *maxBitrate = maxValue;
        if (fps) *fps = fpsValue;
        result = found ? 1 : 0;
    });
    return result;
}

void TesselSDK_SendMobileNotify(TesselSDKHandle* handle, const char* integrationKey, const char* alarmPayload,
                                const char* langCode) {
    Contained([&] {
        if (LinkLogic* logic = LogicOf(handle)) logic->SendMobileNotify(integrationKey, alarmPayload, langCode);
    });
}

void TesselSDK_PushWebRTCStatsReport(TesselSDKHandle* handle, const char* playerId, const char* statsJson) {
    Contained([&] {
        if (LinkLogic* logic = LogicOf(handle)) logic->PushWebRTCStatsReport(OrEmpty(playerId), OrEmpty(statsJson));
    });
}

const char* TesselSDK_GetWindowsEventsApiUrl(TesselSDKHandle* handle) {
    return PerThreadText<&LinkLogic::GetWindowsEventsApiUrl>(handle);
}

const char* TesselSDK_GetEventApiUrl(TesselSDKHandle* handle) {
    return PerThreadText<&LinkLogic::GetEventApiUrl>(handle);
}

void TesselSDK_InitLogger(void) {
    Contained([] { TesselSDK::Logger::Instance().Init(); });
}

void TesselSDK_Log(void* /*reserved*/, int level, const char* message) {
    Contained([&] { TesselSDK::LogMessage(level, OrEmpty(message)); });
}

void TesselSDK_SendTallo(TesselSDKHandle* handle, const char* actionType, const char* elapsedTime,
                         const char* message, const char* connectionType) {
    Contained([&] {
        if (LinkLogic* logic = LogicOf(handle))
            logic->SendTallo(OrEmpty(actionType), OrEmpty(elapsedTime), OrEmpty(message), OrEmpty(connectionType));
    });
}

void TesselSDK_SetInitSentry(TesselSDKHandle* handle, TesselSDK_InitSentryFn cb) {
    if (handle) handle->initSentryCb.store(cb);
}
void TesselSDK_SetCreateStreamer(TesselSDKHandle* handle, TesselSDK_CreateStreamerFn cb) {
    if (handle) handle->createStreamerCb.store(cb);
}
void TesselSDK_SetStartStreaming(TesselSDKHandle* handle, TesselSDK_StartStreamingFn cb) {
    if (handle) handle->startStreamingCb.store(cb);
}
void TesselSDK_SetBitrateCallback(TesselSDKHandle* handle, TesselSDK_BitrateFn cb) {
    if (handle) handle->bitrateCb.store(cb);
}
void TesselSDK_SetOnConnectionReady(TesselSDKHandle* handle, TesselSDK_OnConnectionReadyFn cb) {
    if (handle) handle->onConnectionReadyCb.store(cb);
}
void TesselSDK_SetOnApplyRTCConfig(TesselSDKHandle* handle, TesselSDK_OnApplyRTCConfigFn cb) {
    if (handle) handle->onApplyRTCConfigCb.store(cb);
}

}  // extern "C"
