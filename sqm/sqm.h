// The streaming-quality-metrics collector.
#pragma once

#include <memory>
#include <string>

#include "sqm/sqm_callbacks.h"
#include "sqm/sqm_config.h"

namespace TesselSDK {

class SQM {
public:
    SQM();
    ~SQM();
    SQM(const SQM&) = delete;
    SQM& operator=(const SQM&) = delete;

    void SetHostCallbacks(SqmCallbacks callbacks, const std::string& clientVersion, int geType);
    void SetStreamerId(const std::string& streamerId);
    void SetConfig(const SqmConfig& config);
    const SqmConfig& GetConfig() const;

    // Session operations (null texts are taken as "").
    void PushWebRTCStatsReport(const char* playerId, const char* statsJson);
    void OnStreamingStart(const char* playerId, const char* connectionType);
    void OnStreamingEnd(const char* playerId, const char* reserved);
    void MarkPlayerConnected();
    void ClearStartTimes();

private:
    struct SqmImpl;
    std::unique_ptr<SqmImpl> impl;
};

}  // namespace TesselSDK
