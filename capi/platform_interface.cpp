#include <string>
#include <vector>

#include "capi/handle.h"
#include "capi/ice_servers_json.h"

namespace TesselSDK {

PlatformInterface BuildPlatformInterface(TesselSDKHandle* handle) {
    PlatformInterface pi;
    pi.InitSentry = [handle](const char* dsn, const char* environment, const char* release) {
        if (auto cb = handle->initSentryCb.load()) cb(dsn, environment, release);
    };
    pi.CreateStreamer = [handle](const char* streamerId, const char* signallingUrl) {
        if (auto cb = handle->createStreamerCb.load()) cb(streamerId, signallingUrl);
    };
    pi.StartStreaming = [handle]() {
        if (auto cb = handle->startStreamingCb.load()) cb();
    };
    pi.BitrateCallback = [handle](int minBitrate, int maxBitrate, int fps) {
        if (auto cb = handle->bitrateCb.load()) cb(minBitrate, maxBitrate, fps);
    };
    pi.OnConnectionReady = [handle](const char* playerId, bool ok, int httpStatus, const char* message) {
        if (auto cb = handle->onConnectionReadyCb.load()) cb(playerId, ok, httpStatus, message);
    };
    pi.OnApplyRTCConfig = [handle](const std::vector<PlatformInterface::IceServer>& servers) {
        if (auto cb = handle->onApplyRTCConfigCb.load()) {
            const std::string json = IceServersToJson(servers);
            cb(json.c_str());
        }
    };
    return pi;
}

}  // namespace TesselSDK
