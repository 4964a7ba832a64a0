// The opaque handle behind the flat C interface.
#pragma once

#include <atomic>
#include <string>

#include "tesselsdk/link_logic.h"
#include "tesselsdk/tesselsdk.h"

struct TesselSDKHandle {
    std::string sdkVersion;
    int geType = 0;
    // Owned; null until TesselSDK_Initialize.
    std::atomic<TesselSDK::LinkLogic*> logic{nullptr};
    // Host callbacks; read at the moment a callback is about to run, possibly
    // from another thread than the one that stored them.
    std::atomic<TesselSDK_InitSentryFn> initSentryCb{nullptr};
    std::atomic<TesselSDK_CreateStreamerFn> createStreamerCb{nullptr};
    std::atomic<TesselSDK_StartStreamingFn> startStreamingCb{nullptr};
    std::atomic<TesselSDK_BitrateFn> bitrateCb{nullptr};
    std::atomic<TesselSDK_OnConnectionReadyFn> onConnectionReadyCb{nullptr};
    std::atomic<TesselSDK_OnApplyRTCConfigFn> onApplyRTCConfigCb{nullptr};
};

namespace TesselSDK {

// The host's stored callbacks wrapped for the LinkLogic object. Each member
// looks its pointer up in the handle when it runs; the handle must outlive
// the object that receives the record.
PlatformInterface BuildPlatformInterface(TesselSDKHandle* handle);

}  // namespace TesselSDK
