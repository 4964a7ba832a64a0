// The probes' platform-independent parts: arithmetic, text handling, and the
// probes themselves on top of the platform files' primitives.
#include "platform/probes.h"

#include <cstdio>
#include <ctime>
#include <sstream>

#include "log/env.h"
#include "log/logger.h"
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

float SumGpu3dUtilisation(const std::vector<GpuEngineSample>& samples) {
    double sum = 0.0;
    for (const GpuEngineSample& s : samples) {
        if (s.instance.find(L"engtype_3D") != std::wstring::npos) sum += s.value;
    }
    return CapGpuUtilisation(sum);
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

// Splits "key<blanks>:<blanks>value" of a /proc line; false without a colon.
bool SplitKeyValue(const std::string& line, std::string& key, std::string& value) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return false;
    key = line.substr(0, colon);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
    value = TrimLeadingBlanks(line.substr(colon + 1));
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
    return true;
}

bool ParseUnsigned(const std::string& text, uint64_t& value) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (v > (UINT64_MAX - digit) / 10) return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

}  // namespace

bool ParseCpuInfoModelName(const std::string& cpuinfo, std::string& name) {
    std::istringstream in(cpuinfo);
    std::string line, key, value;
    while (std::getline(in, line)) {
        if (SplitKeyValue(line, key, value) && key == "model name") {
            name = value;
            return true;
        }
    }
    return false;
}

bool ParseMemInfoTotalKb(const std::string& meminfo, uint64_t& kilobytes) {
    std::istringstream in(meminfo);
    std::string line, key, value;
    while (std::getline(in, line)) {
        if (SplitKeyValue(line, key, value) && key == "MemTotal") return ParseUnsigned(value, kilobytes);
    }
    return false;
}

bool ParseProcStatCpuTimes(const std::string& stat, CpuTimes& times) {
    std::istringstream in(stat);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string label;
        fields >> label;
        if (label != "cpu") continue;
        // user nice system idle iowait irq softirq steal (later ones optional;
        // guest time is already part of user).
        uint64_t v[8] = {};
        int read = 0;
        std::string field;
        while (read < 8 && fields >> field) {
            if (!ParseUnsigned(field, v[read])) return false;
            ++read;
        }
        if (read < 4) return false;
        const uint64_t idle = v[3] + v[4];
        times.idle = idle;
        times.kernel = v[2] + v[5] + v[6] + idle;
        times.user = v[0] + v[1] + v[7];
        return true;
    }
    return false;
}

std::string KernelReleaseVersion(const std::string& release) {
    std::string out;
    int parts = 0;
    size_t i = 0;
    while (i < release.size() && parts < 3) {
        if (release[i] < '0' || release[i] > '9') break;
        if (parts > 0) out += '.';
        while (i < release.size() && release[i] >= '0' && release[i] <= '9') out += release[i++];
        ++parts;
        if (i + 1 < release.size() && release[i] == '.' && release[i + 1] >= '0' && release[i + 1] <= '9') {
            ++i;
        } else {
            break;
        }
    }
    return out;
}

bool ParseHexId(const std::string& text, unsigned& value) {
    std::string t = TrimLeadingBlanks(text);
    if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
    unsigned long v = 0;
    size_t digits = 0;
    for (char c : t) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else break;
        if (++digits > 8) return false;
        v = v * 16 + static_cast<unsigned long>(d);
    }
    if (digits == 0) return false;
    value = static_cast<unsigned>(v);
    return true;
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
    static probes::CpuUsageTracker tracker;
    return tracker.Sample(probes::ReadCpuTimes);
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
