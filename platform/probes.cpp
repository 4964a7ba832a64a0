// The probes' platform-independent parts: arithmetic, text handling, and the
// probes themselves on top of the platform files' primitives.
#include "platform/probes.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <new>

#include "log/env.h"
#include "log/logger.h"
#include "platform/probes_primitives.h"
#include "util/clock.h"

namespace TesselSDK {
namespace probes {

float CpuUsageBetween(const CpuTimes& previous, const CpuTimes& current) {
    const uint64_t idle = current.idle - previous.idle;
    const uint64_t kernel = current.kernel - previous.kernel;
    const uint64_t user = current.user - previous.user;
    const uint64_t total = kernel + user;
    if (total == 0) return 0.0f;
    return static_cast<float>(total - idle) / static_cast<float>(total) * 100.0f;
}

float CpuUsageTracker::Sample(const std::function<bool(CpuTimes&)>& read) {
    std::lock_guard<std::mutex> lock(mutex_);
    CpuTimes now;
    if (!read(now)) return -1.0f;
    if (first_) {
        first_ = false;
        previous_ = now;
        return -1.0f;
    }
    const float usage = CpuUsageBetween(previous_, now);
    previous_ = now;
    return usage;
}

float CapGpuUtilisation(double percent) {
    return static_cast<float>(percent >= 100.0 ? 100.0 : percent);
}

std::string FormatTimeZoneOffset(long long offsetSeconds) {
    // The sign comes from the whole offset, so that a zone less than an hour
    // behind UTC reads "-00:30" and not "+00:30".
    const bool negative = offsetSeconds < 0;
    const long long magnitude = negative ? -offsetSeconds : offsetSeconds;
    const long long hours = magnitude / 3600;
    const long long minutes = (magnitude % 3600) / 60;
    char text[48] = {};
    std::snprintf(text, sizeof(text), "%c%02lld:%02lld", negative ? '-' : '+', hours, minutes);
    return text;
}

std::string TimeZoneOffsetAt(long long epochSeconds) {
    RefreshLocalTimeZone();
    const std::time_t now = static_cast<std::time_t>(epochSeconds);
    std::tm local{};
    std::tm utc{};
    if (!BreakDownLocal(now, local) || !BreakDownUtc(now, utc)) return FormatTimeZoneOffset(0);
    // Both read back by mktime. The UTC fields carry no daylight-saving flag,
    // so mktime takes them as the zone's standard time: the result is the
    // standard offset all year round.
    utc.tm_isdst = 0;
    const std::time_t localTime = std::mktime(&local);
    const std::time_t utcAsLocal = std::mktime(&utc);
    return FormatTimeZoneOffset(static_cast<long long>(std::difftime(localTime, utcAsLocal)));
}

std::string ChooseHostName(const std::vector<std::string>& candidates) {
    std::string best;
    for (const std::string& c : candidates) {
        if (c.size() > best.size()) best = c;
    }
    return best.empty() ? "Unknown" : best;
}

std::string TrimLeadingBlanks(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first);
}

namespace {

std::atomic<const Sources*> replacedSources{nullptr};

}  // namespace

const Sources& CurrentSources() {
    static constexpr Sources kPlatform{};
    const Sources* replaced = replacedSources.load(std::memory_order_acquire);
    return replaced != nullptr ? *replaced : kPlatform;
}

void UseSources(const Sources* sources) { replacedSources.store(sources, std::memory_order_release); }

}  // namespace probes

// ---------------------------------------------------------------------------
// The probes. Each call reads its source again; only the usage probes keep
// the state their sampling needs.

std::string GetGpuName() { return probes::CurrentSources().gpuName().value_or("Unknown GPU"); }
std::string GetModuleVersion() { return probes::CurrentSources().moduleVersion().value_or("1.0.0.0"); }
std::string GetOsVersion() { return probes::CurrentSources().osVersion().value_or("Unknown"); }
std::string GetCpuName() { return probes::CurrentSources().cpuName().value_or("Unknown CPU"); }
std::string GetDeviceModel() { return probes::CurrentSources().deviceModel().value_or("Unknown Device"); }
float GetTotalMemoryGb() { return probes::CurrentSources().totalMemoryGb().value_or(0.0f); }
float GetGpuMemoryGb() { return probes::CurrentSources().gpuMemoryGb().value_or(0.0f); }

std::string GetHostName() {
    std::vector<std::string> candidates;
    for (const char* variable : {"COMPUTERNAME", "HOSTNAME", "MachineName"}) candidates.push_back(GetEnvVar(variable));
    probes::AppendSystemHostNames(candidates);
    return probes::ChooseHostName(candidates);
}

std::string GetTimeZoneOffset() { return probes::TimeZoneOffsetAt(static_cast<long long>(std::time(nullptr))); }

float GetCpuUsagePercent() {
    // Never destroyed: a host thread may still ask while the process exits.
    static probes::CpuUsageTracker* const tracker = new (std::nothrow) probes::CpuUsageTracker();
    return tracker != nullptr ? tracker->Sample(probes::ReadCpuTimes) : -1.0f;
}

void DetectGpu(std::string& name, int& hardwareEncoder) {
    name = "Unknown GPU";
    hardwareEncoder = 1;
    const probes::Sources& sources = probes::CurrentSources();
    std::string adapterName;
    unsigned vendorId = 0;
    const probes::AdapterStatus status = sources.adapter0(adapterName, vendorId);
    if (status == probes::AdapterStatus::kNoFactory) {
        LogMessage(kLogError, "[TesselSDK] Failed to create DXGI Factory.");
        return;
    }
    if (status != probes::AdapterStatus::kOk) {
        LogMessage(kLogWarn, "[TesselSDK] No DXGI Adapter found.");
        return;
    }
    name = adapterName;
    bool hardware = false;
    for (const std::string& runtime : probes::EncoderRuntimesForVendor(vendorId)) {
        if (sources.encoderRuntimePresent(runtime)) {
            hardware = true;
            break;
        }
    }
    LogMessage(kLogInfo,
               "[TesselSDK] Detected GPU: " + name + " (encoding: " + (hardware ? "hardware" : "software") + ")");
}

}  // namespace TesselSDK
