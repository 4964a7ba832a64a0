// System-information probes on Linux: /proc, /sys, uname and the C library.
// Each probe is the same operation as on Windows, with the same fallback.
#include "platform/probes.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>

#include "tesselsdk/tesselsdk_export.h"
#include "log/env.h"
#include "platform/probes_kernel_text_linux.h"
#include "platform/probes_primitives.h"

namespace TesselSDK {
namespace {

const char kDrmDevice[] = "/sys/class/drm/card0/device/";
const char kPowerSupplyDir[] = "/sys/class/power_supply/";

// Whole file as text; false when it cannot be opened.
bool ReadTextFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return true;
}

std::string FirstLine(const std::string& text) {
    const size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

// The first line of a sysfs attribute; "" when it cannot be read.
std::string ReadAttribute(const std::string& path) {
    std::string text;
    return ReadTextFile(path, text) ? FirstLine(text) : std::string();
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

class DirReader {
public:
    explicit DirReader(const char* path) : dir_(::opendir(path)) {}
    ~DirReader() {
        if (dir_ != nullptr) ::closedir(dir_);
    }
    DirReader(const DirReader&) = delete;
    DirReader& operator=(const DirReader&) = delete;
    // Next entry name other than "." and ".."; false at the end.
    bool Next(std::string& name) {
        if (dir_ == nullptr) return false;
        while (dirent* entry = ::readdir(dir_)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
            name = entry->d_name;
            return true;
        }
        return false;
    }

private:
    DIR* dir_;
};

// Power supplies that run the system (not a mouse's or headset's battery).
std::vector<std::string> SystemBatteries() {
    std::vector<std::string> batteries;
    DirReader dir(kPowerSupplyDir);
    std::string name;
    while (dir.Next(name)) {
        const std::string base = std::string(kPowerSupplyDir) + name + "/";
        if (ReadAttribute(base + "type") != "Battery") continue;
        if (ReadAttribute(base + "scope") == "Device") continue;
        batteries.push_back(base);
    }
    return batteries;
}

// Graphics adapter 0 as the kernel's DRM sees it (card0); false when there
// is none.
bool ReadDrmAdapter(std::string& name, unsigned& vendorId) {
    const std::string base = kDrmDevice;
    return probes::ParseDrmAdapter(ReadAttribute(base + "vendor"), ReadAttribute(base + "device"),
                                   ReadAttribute(base + "product_name"), name, vendorId);
}

// An address inside this module, for dladdr.
const char kModuleAnchor = 0;

}  // namespace

namespace probes {

std::vector<std::string> EncoderRuntimesForVendor(unsigned vendorId) {
    switch (vendorId) {
        case 0x10DE: return {"libnvidia-encode.so.1"};
        case 0x1002: return {"libamfrt64.so.1"};
        case 0x8086: return {"libmfx.so.1", "libvpl.so.2"};
        default: return {};
    }
}

// A runtime counts as present when it is already mapped into the process or
// its file lies in one of the loader's usual places.
bool EncoderRuntimePresent(const std::string& file) {
    if (void* handle = ::dlopen(file.c_str(), RTLD_LAZY | RTLD_NOLOAD)) {
        ::dlclose(handle);
        return true;
    }
    std::vector<std::string> dirs;
    std::istringstream extra(GetEnvVar("LD_LIBRARY_PATH"));
    std::string dir;
    while (std::getline(extra, dir, ':')) {
        if (!dir.empty()) dirs.push_back(dir);
    }
    for (const char* d : {"/usr/lib/x86_64-linux-gnu", "/lib/x86_64-linux-gnu", "/usr/lib64", "/lib64", "/usr/lib",
                          "/lib", "/usr/local/lib"}) {
        dirs.push_back(d);
    }
    for (const std::string& d : dirs) {
        if (FileExists(d + "/" + file)) return true;
    }
    return false;
}

// The kernel's DRM has no factory to fail: adapter 0 is there or not.
AdapterStatus ReadAdapter0(std::string& name, unsigned& vendorId) {
    return ReadDrmAdapter(name, vendorId) ? AdapterStatus::kOk : AdapterStatus::kNoAdapter;
}

bool ReadCpuTimes(CpuTimes& times) {
    std::string stat;
    return ReadTextFile("/proc/stat", stat) && ParseProcStatCpuTimes(stat, times);
}

std::optional<std::string> ReadGpuName() {
    std::string name;
    unsigned vendorId = 0;
    if (!ReadDrmAdapter(name, vendorId)) return std::nullopt;
    return name;
}

std::optional<std::string> ReadModuleVersion() {
    Dl_info info;
    std::memset(&info, 0, sizeof(info));
    if (::dladdr(&kModuleAnchor, &info) == 0 || info.dli_fname == nullptr) return std::nullopt;
    std::string path(info.dli_fname);
    const size_t slash = path.rfind('/');
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    if (file.compare(0, 15, "libtesselsdk.so") != 0) return std::nullopt;
    return std::string(TESSELSDK_VERSION_STRING);
}

std::optional<std::string> ReadOsVersion() {
    struct utsname names;
    std::memset(&names, 0, sizeof(names));
    if (::uname(&names) != 0) return std::nullopt;
    const std::string version = KernelReleaseVersion(names.release);
    if (version.empty()) return std::nullopt;
    return version;
}

std::optional<std::string> ReadCpuName() {
    std::string cpuinfo;
    if (!ReadTextFile("/proc/cpuinfo", cpuinfo)) return std::nullopt;
    std::string name;
    // Readable but nameless (some architectures): "", as a registry key
    // without the value.
    return ParseCpuInfoModelName(cpuinfo, name) ? name : std::string();
}

std::optional<std::string> ReadDeviceModel() {
    const std::string model = ReadAttribute("/sys/class/dmi/id/product_name");
    if (model.empty()) return std::nullopt;
    return model;
}

void AppendSystemHostNames(std::vector<std::string>& candidates) {
    char host[256] = {};
    if (::gethostname(host, sizeof(host) - 1) == 0) {
        host[sizeof(host) - 1] = '\0';
        const std::string full(host);
        char domain[256] = {};
        std::string qualified;
        if (full.find('.') == std::string::npos && ::getdomainname(domain, sizeof(domain) - 1) == 0) {
            domain[sizeof(domain) - 1] = '\0';
            const std::string d(domain);
            if (!d.empty() && d != "(none)") qualified = full + "." + d;
        }
        // Qualified name, host name, node name, short name: the order of the
        // Windows name formats.
        candidates.push_back(qualified);
        candidates.push_back(full);
        struct utsname names;
        std::memset(&names, 0, sizeof(names));
        if (::uname(&names) == 0) candidates.push_back(names.nodename);
        candidates.push_back(full.substr(0, full.find('.')));
    }
}

std::optional<float> ReadTotalMemoryGb() {
    std::string meminfo;
    uint64_t kilobytes = 0;
    if (!ReadTextFile("/proc/meminfo", meminfo) || !ParseMemInfoTotalKb(meminfo, kilobytes)) return std::nullopt;
    return static_cast<float>(kilobytes) * 1024.0f / kBytesPerGb;
}

std::optional<float> ReadGpuMemoryGb() {
    // Only drivers that publish their memory size (amdgpu) have one here.
    const std::string total = ReadAttribute(std::string(kDrmDevice) + "mem_info_vram_total");
    if (total.empty() || total[0] < '0' || total[0] > '9') return std::nullopt;
    return static_cast<float>(std::strtoull(total.c_str(), nullptr, 10)) / kBytesPerGb;
}

}  // namespace probes

std::string GetComputerName() {
    char name[256] = {};
    if (::gethostname(name, sizeof(name) - 1) != 0) return "Unknown-PC";
    name[sizeof(name) - 1] = '\0';
    // The short name, as the machine's own name (no domain).
    return probes::ShortHostName(name);
}

std::string GetDeviceType() { return SystemBatteries().empty() ? "Desktop" : "Laptop"; }

float GetGpuUsagePercent() {
    // As on Windows, where the first call only primes the counters, the first
    // call of the process reports "unknown" and later ones the usage.
    static std::atomic<bool> primed{false};
    if (!primed.exchange(true)) return -1.0f;
    // The kernel computes the busy share itself (amdgpu); other drivers offer
    // nothing and give the fallback.
    const std::string busy = ReadAttribute(std::string(kDrmDevice) + "gpu_busy_percent");
    if (busy.empty() || busy[0] < '0' || busy[0] > '9') return -1.0f;
    return probes::CapGpuUtilisation(std::strtod(busy.c_str(), nullptr));
}

float GetBatteryPercent() {
    for (const std::string& battery : SystemBatteries()) {
        const std::string capacity = ReadAttribute(battery + "capacity");
        if (!capacity.empty() && capacity[0] >= '0' && capacity[0] <= '9') {
            return static_cast<float>(std::strtol(capacity.c_str(), nullptr, 10));
        }
    }
    return -1.0f;
}

// The library talks to no display server, so it has no screen to measure.
void GetScreenSize(int& width, int& height) {
    width = 0;
    height = 0;
}

}  // namespace TesselSDK
