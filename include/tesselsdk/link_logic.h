// TesselSDK C++ class interface.
//
// The class interface is a C++ ABI: a host that uses it must be built with
// the same compiler family (and C++ runtime) as the library. Hosts built with
// any other compiler use the flat C interface of tesselsdk.h.
//
// The object's methods let no exception of the library's own out. An
// exception thrown by one of the host's callbacks (those of PlatformInterface
// and the completions passed to a call) reaches the host unchanged, from the
// call that ran the callback; that call's outcome is then not reported.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tesselsdk_export.h"

namespace TesselSDK {

// Host facts used for the reporter's tags. Null or empty texts mean "no value".
struct SentryContext {
    const char* device = nullptr;
    const char* runtimeVersion = nullptr;
    bool isMainThread = false;
    const char* osVersion = nullptr;
    const char* userId = nullptr;
};

// The encoder part of a bitrate profile, filled by GetEncoderConfig.
struct EncoderSettings {
    int MinQP = 0;
    int MaxQP = 0;
    std::string H264Profile;
    std::string Multipass;
    std::string EncoderPreset;
    std::string RateControl;
    std::string DegradationPreference;
};

// The host's callbacks. Every member may be empty; empty members are skipped.
struct PlatformInterface {
    struct IceServer {
        std::vector<std::string> urls;
        std::string username;
        std::string credential;
    };

    // Reserved slots: carried and emptied, never called.
    std::function<void(void*)> ReservedCallback0;
    std::function<void(void*, void*)> ReservedCallback1;
    std::function<void(const char* dsn, const char* environment, const char* release)> InitSentry;
    std::function<void(const char* streamerId, const char* signallingUrl)> CreateStreamer;
    std::function<void()> StartStreaming;
    std::function<void(int minBitrate, int maxBitrate, int fps)> BitrateCallback;
    std::function<void(const char* playerId, bool ok, int httpStatus, const char* message)> OnConnectionReady;
    std::function<void(const std::vector<IceServer>& servers)> OnApplyRTCConfig;
    std::function<SentryContext()> GetSentryContext;
};

class TESSELSDK_API LinkLogic {
public:
    LinkLogic();
    LinkLogic(const LinkLogic&);
    LinkLogic& operator=(const LinkLogic&);
    virtual ~LinkLogic();

    static LinkLogic* Create(const char* sdkVersion, int geType, PlatformInterface platform);
    static void Destroy(LinkLogic* logic);

    virtual void Initialize(std::function<void(bool ok)> onInitialized) = 0;
    virtual void Shutdown() = 0;
    virtual void HandlePlayerConnected(const char* playerId, bool sendOffer,
                                       std::function<void(bool ok, int httpStatus, const char* message)> done) = 0;
    virtual void SendTallo(const char* actionType, const char* elapsedTime, const char* message,
                           const char* connectionType) = 0;
    virtual bool GetBitrateConfig(const char* profile, int* minBitrate, int* maxBitrate, int* fps) = 0;
    virtual bool GetEncoderConfig(const char* profile, EncoderSettings* out) = 0;
    virtual std::string GetWindowsEventsApiUrl() = 0;
    virtual std::string GetEventApiUrl() = 0;
    virtual void SendMobileNotify(const char* integrationKey, const char* alarmPayload, const char* langCode) = 0;
    virtual void PushWebRTCStatsReport(const char* playerId, const char* statsJson) = 0;
    virtual void HandleStreamingStarted(const char* playerId, const char* connectionType) = 0;
    virtual void HandleStreamingEnded(const char* playerId, const char* reserved) = 0;
};

}  // namespace TesselSDK
