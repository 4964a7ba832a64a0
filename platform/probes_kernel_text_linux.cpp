// Readers of the Linux kernel's text files: pure text handling, no file access.
#include "platform/probes_kernel_text_linux.h"

#include <cstdio>
#include <sstream>

namespace TesselSDK {
namespace probes {
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

const char* VendorName(unsigned vendor) {
    switch (vendor) {
        case 0x10DE: return "NVIDIA";
        case 0x1002: return "AMD";
        case 0x8086: return "Intel";
        default: return nullptr;
    }
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

// The kernel keeps no marketing name for most drivers: the name is the
// driver-provided product name where there is one, else the vendor and the
// PCI ids.
bool ParseDrmAdapter(const std::string& vendor, const std::string& device, const std::string& productName,
                     std::string& name, unsigned& vendorId) {
    unsigned vendorNumber = 0;
    if (!ParseHexId(vendor, vendorNumber)) return false;
    unsigned deviceNumber = 0;
    ParseHexId(device, deviceNumber);
    name = productName;
    if (name.empty()) {
        char ids[32] = {};
        std::snprintf(ids, sizeof(ids), "[%04x:%04x]", vendorNumber, deviceNumber);
        const char* vendorText = VendorName(vendorNumber);
        name = std::string(vendorText != nullptr ? vendorText : "") + (vendorText != nullptr ? " GPU " : "GPU ") + ids;
    }
    vendorId = vendorNumber;
    return true;
}

std::string ShortHostName(const std::string& hostName) {
    const std::string name = hostName.substr(0, hostName.find('.'));
    return name.empty() ? "Unknown-PC" : name;
}

}  // namespace probes
}  // namespace TesselSDK
