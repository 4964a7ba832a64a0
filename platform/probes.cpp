// The probes' platform-independent parts: arithmetic, text handling, and the
// probes themselves on top of the platform files' primitives.
#include "platform/probes.h"

#include <cstdio>
#include <ctime>

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

}  // namespace probes

// ---------------------------------------------------------------------------
// The probes. Facts that cannot change while the process runs are read until
// a read succeeds, and then kept.

namespace {

// The value of the probe that `Read` serves: its kept fact, or the fallback
// while the fact cannot be read.
template <auto Read>
auto Kept(const typename decltype(Read())::value_type& fallback) {
    static probes::KeptFact<typename decltype(Read())::value_type> fact;
    return fact.Get(Read).value_or(fallback);
}

}  // namespace

std::string GetGpuName() { return Kept<probes::ReadGpuName>("Unknown GPU"); }
std::string GetModuleVersion() { return Kept<probes::ReadModuleVersion>("1.0.0.0"); }
std::string GetOsVersion() { return Kept<probes::ReadOsVersion>("Unknown"); }
std::string GetCpuName() { return Kept<probes::ReadCpuName>("Unknown CPU"); }
std::string GetDeviceModel() { return Kept<probes::ReadDeviceModel>("Unknown Device"); }
float GetTotalMemoryGb() { return Kept<probes::ReadTotalMemoryGb>(0.0f); }
float GetGpuMemoryGb() { return Kept<probes::ReadGpuMemoryGb>(0.0f); }

std::string GetHostName() {
    std::vector<std::string> candidates;
    for (const char* variable : {"COMPUTERNAME", "HOSTNAME", "MachineName"}) candidates.push_back(GetEnvVar(variable));
    probes::AppendSystemHostNames(candidates);
    return probes::ChooseHostName(candidates);
}

std::string GetTimeZoneOffset() { return probes::TimeZoneOffsetAt(static_cast<long long>(std::time(nullptr))); }

float GetCpuUsagePercent() {
    // Never destroyed, as the kept facts: a host thread may still ask while
    // the process exits.
    static probes::CpuUsageTracker* const tracker = new (std::nothrow) probes::CpuUsageTracker();
    return tracker != nullptr ? tracker->Sample(probes::ReadCpuTimes) : -1.0f;
}

namespace {

// Adapter 0 and whether an encoder runtime of its vendor is present.
struct GpuFacts {
    std::string name;
    bool hardware = false;
};

// Nothing when adapter 0 cannot be opened; status says how far it got.
std::optional<GpuFacts> ReadGpuFacts(probes::AdapterStatus& status) {
    GpuFacts gpu;
    unsigned vendorId = 0;
    status = probes::ReadAdapter0(gpu.name, vendorId);
    if (status != probes::AdapterStatus::kOk) return std::nullopt;
    for (const std::string& runtime : probes::EncoderRuntimesForVendor(vendorId)) {
        if (probes::EncoderRuntimePresent(runtime)) {
            gpu.hardware = true;
            break;
        }
    }
    return gpu;
}

}  // namespace

void DetectGpu(std::string& name, int& hardwareEncoder) {
    name = "Unknown GPU";
    hardwareEncoder = 1;
    static probes::KeptFact<GpuFacts> fact;
    probes::AdapterStatus status = probes::AdapterStatus::kOk;
    const std::optional<GpuFacts> gpu = fact.Get([&status]() { return ReadGpuFacts(status); });
    if (!gpu) {
        if (status == probes::AdapterStatus::kNoFactory) {
            LogMessage(kLogError, "[TesselSDK] Failed to create DXGI Factory.");
        } else {
            LogMessage(kLogWarn, "[TesselSDK] No DXGI Adapter found.");
        }
        return;
    }
    name = gpu->name;
    LogMessage(kLogInfo,
               "[TesselSDK] Detected GPU: " + name + " (encoding: " + (gpu->hardware ? "hardware" : "software") + ")");
}

}  // namespace TesselSDK
