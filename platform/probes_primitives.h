// What the probes are built from: the platform-independent pieces
// (probes.cpp) and the primitives each platform provides (probes_linux.cpp,
// probes_win.cpp).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <new>
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

// A fact that cannot change while the process runs. The first successful read
// is kept for the life of the process; a read that fails is tried again at
// the next call. The kept value is never destroyed: threads of the host may
// still ask while the process exits. Safe from any thread.
template <typename T>
class KeptFact {
public:
    // `read` gives the fact, or nothing when it cannot be read now.
    template <typename Read>
    std::optional<T> Get(Read read) {
        if (const T* kept = kept_.load(std::memory_order_acquire)) return *kept;
        std::optional<T> value = read();
        if (!value) return value;
        const T* fresh = new (std::nothrow) T(*value);
        const T* expected = nullptr;
        if (fresh != nullptr &&
            !kept_.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel, std::memory_order_acquire)) {
            delete fresh;  // another thread kept its read first
            return *expected;
        }
        return value;
    }

private:
    std::atomic<const T*> kept_{nullptr};
};

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
// fallback. The probe keeps the first value read.
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

}  // namespace probes
}  // namespace TesselSDK
