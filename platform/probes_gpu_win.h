// Summing the GPU engines' utilisation as the Windows performance counters
// report it.
#pragma once

#include <string>
#include <vector>

namespace TesselSDK {
namespace probes {

// One GPU engine's utilisation as the performance counters report it.
struct GpuEngineSample {
    std::wstring instance;
    double value = 0.0;
};

// Sum over the 3D engines (instance name containing "engtype_3D", case
// sensitive), capped at 100.0.
float SumGpu3dUtilisation(const std::vector<GpuEngineSample>& samples);

}  // namespace probes
}  // namespace TesselSDK
