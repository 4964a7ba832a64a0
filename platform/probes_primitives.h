// What the probes are built from: the platform-independent pieces
// (probes.cpp) and the primitives each platform provides (probes_linux.cpp,
// probes_win.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace TesselSDK {
namespace probes {

// System CPU times in ticks. `kernel` includes `idle`, as Windows counts it.
struct CpuTimes {
    uint64_t idle = 0;
    uint64_t kernel = 0;
    uint64_t user = 0;
};

// Busy share of the interval between two samples, in percent; 0.0 for an
// empty interval. Unsigned differences, no clamping.
float CpuUsageBetween(const CpuTimes& previous, const CpuTimes& current);

// Process-wide CPU usage state: the first successful sample gives -1.0, each
// later one the usage since the previous sample of any caller. Its own lock
// serialises concurrent callers, the read of the system times included.
class CpuUsageTracker {
public:
    // `read` fills the current times and returns false on failure (-1.0,
    // state unchanged).
    float Sample(const std::function<bool(CpuTimes&)>& read);

private:
    std::mutex mutex_;
    bool first_ = true;
    CpuTimes previous_;
};

// A utilisation in percent, capped at 100.0.
float CapGpuUtilisation(double percent);

// "+HH:MM" / "-HH:MM" of an offset from UTC in seconds.
std::string FormatTimeZoneOffset(long long offsetSeconds);

// The longest non-empty candidate (earlier wins ties); "Unknown" when none.
std::string ChooseHostName(const std::vector<std::string>& candidates);

// The text without its leading blanks and tabs.
std::string TrimLeadingBlanks(const std::string& text);

// The zone's offset from UTC at `epochSeconds` as GetTimeZoneOffset gives it:
// the zone's standard offset, also while daylight-saving time is in effect.
std::string TimeZoneOffsetAt(long long epochSeconds);

constexpr float kBytesPerGb = 1073741824.0f;

// ---------------------------------------------------------------------------
// What each platform provides.

// The probe of the same name, read afresh; nothing where the probe gives its
// fallback.
std::optional<std::string> ReadGpuName();
std::optional<std::string> ReadModuleVersion();
std::optional<std::string> ReadOsVersion();
std::optional<std::string> ReadCpuName();
std::optional<std::string> ReadDeviceModel();
std::optional<float> ReadTotalMemoryGb();
std::optional<float> ReadGpuMemoryGb();

// How far opening graphics adapter 0 got.
enum class AdapterStatus { kOk, kNoFactory, kNoAdapter };
// Adapter 0's name as DetectGpu reports it and its PCI vendor id (set only
// for kOk).
AdapterStatus ReadAdapter0(std::string& name, unsigned& vendorId);
// Encoder runtime files to probe for a PCI vendor id, in probing order
// (per platform: the runtimes' library names differ).
std::vector<std::string> EncoderRuntimesForVendor(unsigned vendorId);
// Whether one of those files is present; nothing of it is run.
bool EncoderRuntimePresent(const std::string& file);

// The system CPU times now; false when they cannot be read.
bool ReadCpuTimes(CpuTimes& times);
// The system's own names of the host, in order, for ChooseHostName.
void AppendSystemHostNames(std::vector<std::string>& candidates);

// ---------------------------------------------------------------------------
// Where the probes read their facts: the platform's functions above, unless a
// test puts a table of its own in place. Every probe call reads again.
struct Sources {
    std::optional<std::string> (*gpuName)() = ReadGpuName;
    std::optional<std::string> (*moduleVersion)() = ReadModuleVersion;
    std::optional<std::string> (*osVersion)() = ReadOsVersion;
    std::optional<std::string> (*cpuName)() = ReadCpuName;
    std::optional<std::string> (*deviceModel)() = ReadDeviceModel;
    std::optional<float> (*totalMemoryGb)() = ReadTotalMemoryGb;
    std::optional<float> (*gpuMemoryGb)() = ReadGpuMemoryGb;
    AdapterStatus (*adapter0)(std::string& name, unsigned& vendorId) = ReadAdapter0;
    bool (*encoderRuntimePresent)(const std::string& file) = EncoderRuntimePresent;
};

// The table in use.
const Sources& CurrentSources();
// Puts `sources` in place (null: the platform's again). The table must stay
// alive while it is in place.
void UseSources(const Sources* sources);

}  // namespace probes
}  // namespace TesselSDK
