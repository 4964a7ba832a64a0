// GPU usage on Windows: the performance counters of the GPU engines (PDH).
#include "platform/probes.h"

#include <windows.h>
#include <pdh.h>

#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

#include "platform/probes_gpu_win.h"
#include "platform/probes_primitives.h"

namespace TesselSDK {
namespace probes {

float SumGpu3dUtilisation(const std::vector<GpuEngineSample>& samples) {
    double sum = 0.0;
    for (const GpuEngineSample& s : samples) {
        if (s.instance.find(L"engtype_3D") != std::wstring::npos) sum += s.value;
    }
    return CapGpuUtilisation(sum);
}

}  // namespace probes

namespace {

using probes::GpuEngineSample;
using probes::SumGpu3dUtilisation;

// The GPU engine counters: opened and primed on the first call, then kept for
// the life of the process. Its own lock serialises concurrent collectors.
class GpuCounters {
    struct QueryCloser {
        void operator()(PDH_HQUERY query) const { PdhCloseQuery(query); }
    };

public:
    float Sample() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failed_) return -1.0f;
        if (!initialised_) {
            initialised_ = true;
            PDH_HQUERY opened = nullptr;
            if (PdhOpenQueryA(nullptr, 0, &opened) != ERROR_SUCCESS) {
                failed_ = true;
                return -1.0f;
            }
            // Closed again unless the counter is added; then it stays open
            // for the rest of the process.
            std::unique_ptr<void, QueryCloser> query(opened);
            if (PdhAddEnglishCounterW(query.get(), L"\\GPU Engine(*)\\Utilization Percentage", 0, &counter_) !=
                ERROR_SUCCESS) {
                failed_ = true;
                return -1.0f;
            }
            query_ = query.release();
            PdhCollectQueryData(query_);
            return -1.0f;
        }
        if (PdhCollectQueryData(query_) != ERROR_SUCCESS) return -1.0f;
        DWORD size = 0;
        DWORD count = 0;
        PdhGetFormattedCounterArrayW(counter_, PDH_FMT_DOUBLE, &size, &count, nullptr);
        if (size == 0) return -1.0f;
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]());
        auto* items = reinterpret_cast<PDH_FMT_COUNTERVALUE_ITEM_W*>(buffer.get());
        if (PdhGetFormattedCounterArrayW(counter_, PDH_FMT_DOUBLE, &size, &count, items) != ERROR_SUCCESS) {
            return -1.0f;
        }
        std::vector<GpuEngineSample> samples;
        samples.reserve(count);
        for (DWORD i = 0; i < count; ++i) {
            GpuEngineSample s;
            if (items[i].szName != nullptr) s.instance = items[i].szName;
            s.value = items[i].FmtValue.doubleValue;
            samples.push_back(std::move(s));
        }
        return SumGpu3dUtilisation(samples);
    }

private:
    std::mutex mutex_;
    bool initialised_ = false;
    bool failed_ = false;
    PDH_HQUERY query_ = nullptr;
    PDH_HCOUNTER counter_ = nullptr;
};

}  // namespace

float GetGpuUsagePercent() {
    // Never destroyed, as the other process-wide probe state: the query stays
    // open, and a host thread may still ask while the process exits.
    static GpuCounters* const counters = new (std::nothrow) GpuCounters();
    if (counters == nullptr) return -1.0f;
    try {
        return counters->Sample();
    } catch (const std::exception&) {
        return -1.0f;  // out of memory for the counter array
    }
}

}  // namespace TesselSDK
