// The collector's provider table: every platform service it uses.
#pragma once

#include <functional>
#include <map>
#include <string>

namespace TesselSDK {

struct SqmCallbacks {
    std::function<void(int level, const char* text)> logFn;
    std::function<void(const std::string& url, std::function<void(int, const std::string&)> done)> httpGetFn;
    std::function<void(const std::string& url, const std::string& body, const std::map<std::string, std::string>& headers,
                       std::function<void(int, const std::string&)> done)>
        httpPostFn;
    std::function<std::string(const char* name)> envFn;
    std::function<long long()> nowMsFn;
    std::function<std::string()> timeZoneFn;
    std::function<float()> cpuUsageFn;
    std::function<float()> gpuUsageFn;
    std::function<float()> batteryLevelFn;
    std::function<std::string()> osVersionFn;
    std::function<std::string()> cpuNameFn;
    std::function<float()> memoryCapacityFn;
    std::function<float()> gpuMemoryCapacityFn;
    std::function<std::string()> deviceModelFn;
    std::function<std::string()> deviceTypeFn;
    std::function<void(int& width, int& height)> screenSizeFn;
    std::function<void(std::string& gpuName, int& hardwareEncoder)> gpuInfoFn;
    std::function<bool(int& minBitrate, int& maxBitrate, int& fps)> bitrateConfigFn;
    std::function<std::string()> accessTokenFn;
};

}  // namespace TesselSDK
