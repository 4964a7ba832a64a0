// System-information probes. None fails outward: each gives its fallback.
#pragma once

#include <string>

namespace TesselSDK {

std::string GetGpuName();        // "Unknown GPU"
std::string GetComputerName();   // "Unknown-PC"
std::string GetModuleVersion();  // "1.0.0.0"
std::string GetOsVersion();      // "Unknown"
std::string GetCpuName();        // "Unknown CPU"
std::string GetDeviceModel();    // "Unknown Device"
std::string GetDeviceType();     // "Desktop"
std::string GetHostName();       // "Unknown"
std::string GetTimeZoneOffset(); // "+09:00"

float GetTotalMemoryGb();    // 0.0
float GetGpuMemoryGb();      // 0.0
float GetCpuUsagePercent();  // -1.0
float GetGpuUsagePercent();  // -1.0
float GetBatteryPercent();   // -1.0

// Primary display in pixels; 0x0 where the process has no display to ask.
void GetScreenSize(int& width, int& height);
// Adapter 0's name and the encoder flag (always 1); logs what it found.
void DetectGpu(std::string& name, int& hardwareEncoder);

}  // namespace TesselSDK
