// Readers of the Linux kernel's text files (/proc, sysfs, uname).
#pragma once

#include <cstdint>
#include <string>

#include "platform/probes_primitives.h"

namespace TesselSDK {
namespace probes {

// Value of the first "model name" line of /proc/cpuinfo; false when absent.
bool ParseCpuInfoModelName(const std::string& cpuinfo, std::string& name);
// "MemTotal" of /proc/meminfo in kB; false when absent or unreadable.
bool ParseMemInfoTotalKb(const std::string& meminfo, uint64_t& kilobytes);
// The aggregate "cpu" line of /proc/stat as Windows-style times.
bool ParseProcStatCpuTimes(const std::string& stat, CpuTimes& times);
// The leading version digits of a kernel release ("6.1.0-13-amd64" gives
// "6.1.0"), at most three parts; "" when it does not start with a digit.
std::string KernelReleaseVersion(const std::string& release);
// A sysfs hexadecimal id such as "0x10de\n"; false when unreadable.
bool ParseHexId(const std::string& text, unsigned& value);
// The machine's own name from a host name: the part before its first dot;
// "Unknown-PC" when that is empty.
std::string ShortHostName(const std::string& hostName);
// Graphics adapter from the first lines of its sysfs "vendor", "device" and
// "product_name" attributes: its name and PCI vendor id; false when the
// vendor id is unreadable (no adapter).
bool ParseDrmAdapter(const std::string& vendor, const std::string& device, const std::string& productName,
                     std::string& name, unsigned& vendorId);

}  // namespace probes
}  // namespace TesselSDK
