#include "platform/probes.h"

namespace TesselSDK {
std::string GetGpuName() { return "Unknown GPU"; }
std::string GetComputerName() { return "Unknown-PC"; }
std::string GetModuleVersion() { return "1.0.0.0"; }
std::string GetOsVersion() { return "Unknown"; }
std::string GetCpuName() { return "Unknown CPU"; }
std::string GetDeviceModel() { return "Unknown Device"; }
std::string GetDeviceType() { return "Desktop"; }
std::string GetHostName() { return "Unknown"; }
std::string GetTimeZoneOffset() { return "+00:00"; }
float GetTotalMemoryGb() { return 0.0f; }
float GetGpuMemoryGb() { return 0.0f; }
float GetCpuUsagePercent() { return -1.0f; }
float GetGpuUsagePercent() { return -1.0f; }
float GetBatteryPercent() { return -1.0f; }
void GetScreenSize(int& width, int& height) { width = 0; height = 0; }
void DetectGpu(std::string& name, int& hardwareEncoder) { name = "Unknown GPU"; hardwareEncoder = 1; }
}  // namespace TesselSDK
