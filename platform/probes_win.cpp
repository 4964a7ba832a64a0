// System-information probes on Windows: DXGI, the registry, version
// resources, RtlGetVersion and the kernel's time, memory and power calls.
#include "platform/probes.h"

#include <windows.h>
#include <dxgi.h>
#include <winver.h>

// <windows.h> maps GetComputerName to its narrow or wide form; here the name
// is the probe's own.
#undef GetComputerName

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>

#include "platform/probes_primitives.h"
#include "util/text.h"

namespace TesselSDK {
namespace {

// Owns one COM interface pointer; releases it when it goes.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* operator->() const { return ptr_; }
    T* Get() const { return ptr_; }
    T** Out() {
        Reset();
        return &ptr_;
    }
    void Reset() {
        if (ptr_ != nullptr) ptr_->Release();
        ptr_ = nullptr;
    }

private:
    T* ptr_ = nullptr;
};

// Owns an open registry key.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() { Close(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    bool OpenLocalMachine(const char* path) {
        Close();
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key_) == ERROR_SUCCESS;
    }
    // A string value of up to 256 bytes as text; "" when it is missing or
    // unreadable. A byte past the 256 holds the terminator, which a stored
    // value need not carry.
    std::string ReadString(const char* name) {
        char buffer[257] = {};
        DWORD size = 256;
        if (RegQueryValueExA(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
            return std::string();
        }
        buffer[256] = '\0';
        return buffer;
    }
    void Close() {
        if (key_ != nullptr) RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
};

// Adapter 0 of a DXGI factory, with its description.
struct Adapter {
    ComRef<IDXGIFactory1> factory;
    ComRef<IDXGIAdapter1> adapter;
    DXGI_ADAPTER_DESC1 desc;
};

using probes::AdapterStatus;

AdapterStatus OpenAdapter0(Adapter& a) {
    std::memset(&a.desc, 0, sizeof(a.desc));
    if (FAILED(CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(a.factory.Out())))) {
        return AdapterStatus::kNoFactory;
    }
    if (a.factory.Get() == nullptr || a.factory->EnumAdapters1(0, a.adapter.Out()) != S_OK ||
        a.adapter.Get() == nullptr) {
        return AdapterStatus::kNoAdapter;
    }
    if (FAILED(a.adapter->GetDesc1(&a.desc))) {
        // An adapter without a readable description is reported by the
        // fallback name, with no vendor and no memory.
        std::memset(&a.desc, 0, sizeof(a.desc));
        std::wcscpy(a.desc.Description, L"Unknown GPU");
    }
    a.desc.Description[127] = L'\0';
    return AdapterStatus::kOk;
}

}  // namespace

namespace probes {

std::vector<std::string> EncoderRuntimesForVendor(unsigned vendorId) {
    switch (vendorId) {
        case 0x10DE: return {"nvEncodeAPI64.dll"};
        case 0x1002: return {"amfrt64.dll"};
        case 0x8086: return {"libmfx.dll", "mfx.dll"};
        default: return {};
    }
}

// Mapped as a data file only: nothing of the runtime is run.
bool EncoderRuntimePresent(const std::string& file) {
    HMODULE module = LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) return false;
    FreeLibrary(module);
    return true;
}

AdapterStatus ReadAdapter0(std::string& name, unsigned& vendorId) {
    Adapter a;
    const AdapterStatus status = OpenAdapter0(a);
    if (status != AdapterStatus::kOk) return status;
    name = WideToUtf8(a.desc.Description);
    vendorId = a.desc.VendorId;
    return status;
}

bool ReadCpuTimes(CpuTimes& times) {
    FILETIME idle{}, kernel{}, user{};
    if (!GetSystemTimes(&idle, &kernel, &user)) return false;
    auto toU64 = [](const FILETIME& ft) {
        return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) + static_cast<uint64_t>(ft.dwLowDateTime);
    };
    times.idle = toU64(idle);
    times.kernel = toU64(kernel);
    times.user = toU64(user);
    return true;
}

std::optional<std::string> ReadGpuName() {
    Adapter a;
    if (OpenAdapter0(a) != AdapterStatus::kOk) return std::nullopt;
    char name[128] = {};
    if (WideCharToMultiByte(CP_UTF8, 0, a.desc.Description, -1, name, sizeof(name), nullptr, nullptr) == 0) {
        return std::nullopt;
    }
    name[sizeof(name) - 1] = '\0';
    return std::string(name);
}

std::optional<std::string> ReadModuleVersion() {
    HMODULE module = GetModuleHandleA("tesselsdk.dll");
    if (module == nullptr) return std::nullopt;
    char path[MAX_PATH + 1] = {};
    if (GetModuleFileNameA(module, path, MAX_PATH) == 0) return std::nullopt;
    path[MAX_PATH] = '\0';
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) return std::nullopt;
    std::unique_ptr<unsigned char[]> data(new unsigned char[size]());
    if (!GetFileVersionInfoA(path, 0, size, data.get())) return std::nullopt;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.get(), "\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return std::nullopt;
    }
    char text[64] = {};
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", static_cast<unsigned>(HIWORD(info->dwFileVersionMS)),
                  static_cast<unsigned>(LOWORD(info->dwFileVersionMS)),
                  static_cast<unsigned>(HIWORD(info->dwFileVersionLS)),
                  static_cast<unsigned>(LOWORD(info->dwFileVersionLS)));
    return std::string(text);
}

std::optional<std::string> ReadOsVersion() {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    OSVERSIONINFOEXW version;
    std::memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return std::nullopt;
    FARPROC proc = GetProcAddress(ntdll, "RtlGetVersion");
    if (proc == nullptr) return std::nullopt;
    // Through the generic function type, which converts to any other.
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void (*)()>(proc));
    rtlGetVersion(&version);
    char text[64] = {};
    std::snprintf(text, sizeof(text), "%lu.%lu.%lu", static_cast<unsigned long>(version.dwMajorVersion),
                  static_cast<unsigned long>(version.dwMinorVersion),
                  static_cast<unsigned long>(version.dwBuildNumber));
    return std::string(text);
}

std::optional<std::string> ReadCpuName() {
    RegKey key;
    if (!key.OpenLocalMachine("HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0")) return std::nullopt;
    return TrimLeadingBlanks(key.ReadString("ProcessorNameString"));
}

std::optional<std::string> ReadDeviceModel() {
    RegKey key;
    if (!key.OpenLocalMachine("HARDWARE\\DESCRIPTION\\System\\BIOS")) return std::nullopt;
    const std::string model = key.ReadString("SystemProductName");
    if (model.empty()) return std::nullopt;
    return model;
}

void AppendSystemHostNames(std::vector<std::string>& candidates) {
    const COMPUTER_NAME_FORMAT formats[] = {ComputerNameDnsFullyQualified, ComputerNameDnsHostname,
                                            ComputerNamePhysicalDnsFullyQualified, ComputerNamePhysicalDnsHostname};
    wchar_t buffer[1024] = {};
    for (COMPUTER_NAME_FORMAT format : formats) {
        DWORD size = 1024;
        if (!GetComputerNameExW(format, buffer, &size)) continue;
        buffer[size < 1024 ? size : 1023] = L'\0';
        candidates.push_back(WideToUtf8(buffer));
    }
}

std::optional<float> ReadTotalMemoryGb() {
    MEMORYSTATUSEX status;
    std::memset(&status, 0, sizeof(status));
    status.dwLength = sizeof(status);
    if (!GlobalMemoryStatusEx(&status)) return std::nullopt;
    return static_cast<float>(status.ullTotalPhys) / kBytesPerGb;
}

std::optional<float> ReadGpuMemoryGb() {
    Adapter a;
    if (OpenAdapter0(a) != AdapterStatus::kOk) return std::nullopt;
    return static_cast<float>(a.desc.DedicatedVideoMemory) / kBytesPerGb;
}

}  // namespace probes

std::string GetComputerName() {
    char name[16] = {};
    DWORD size = sizeof(name);
    if (!::GetComputerNameA(name, &size)) return "Unknown-PC";
    name[sizeof(name) - 1] = '\0';
    return name;
}

std::string GetDeviceType() {
    SYSTEM_POWER_STATUS status;
    std::memset(&status, 0, sizeof(status));
    if (!GetSystemPowerStatus(&status)) return "Desktop";
    return status.BatteryFlag == 128 ? "Desktop" : "Laptop";
}

float GetBatteryPercent() {
    SYSTEM_POWER_STATUS status;
    std::memset(&status, 0, sizeof(status));
    if (!GetSystemPowerStatus(&status) || status.BatteryLifePercent == 255) return -1.0f;
    return static_cast<float>(status.BatteryLifePercent);
}

void GetScreenSize(int& width, int& height) {
    width = GetSystemMetrics(SM_CXSCREEN);
    height = GetSystemMetrics(SM_CYSCREEN);
}

}  // namespace TesselSDK
