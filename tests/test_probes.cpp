// System-information probes: the shared arithmetic and text handling with
// fixed inputs, and every live probe giving a value of its kind or its
// fallback (no machine-specific values asserted).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#include "log/logger.h"
#include "platform/probes.h"
#include "test_support.h"

using namespace TesselSDK;
using namespace TesselSDK::probes;

namespace {

bool IsUsageOrUnknown(float v) { return v == -1.0f || (v >= 0.0f && v <= 100.0f); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "+HH:MM" or "-HH:MM".
bool IsZoneOffsetText(const std::string& t) {
    return t.size() == 6 && (t[0] == '+' || t[0] == '-') && IsDigit(t[1]) && IsDigit(t[2]) && t[3] == ':' &&
           IsDigit(t[4]) && IsDigit(t[5]);
}

// One to three dot-separated runs of digits.
bool IsDottedVersion(const std::string& t) {
    int parts = 0;
    size_t i = 0;
    while (i < t.size()) {
        if (!IsDigit(t[i])) return false;
        while (i < t.size() && IsDigit(t[i])) ++i;
        ++parts;
        if (i < t.size() && (t[i] != '.' || ++i == t.size())) return false;
    }
    return parts >= 1 && parts <= 3;
}

}  // namespace

TEST(ProbeArithmetic, CpuUsageFromTwoSamples) {
    // Kernel time includes idle: busy = kernel + user - idle.
    const CpuTimes before{100, 300, 100};
    const CpuTimes after{160, 400, 200};
    EXPECT_FLOAT_EQ(70.0f, CpuUsageBetween(before, after));
    EXPECT_FLOAT_EQ(0.0f, CpuUsageBetween(after, after));
    EXPECT_FLOAT_EQ(0.0f, CpuUsageBetween(before, CpuTimes{200, 400, 100}));  // idle all along
    EXPECT_FLOAT_EQ(100.0f, CpuUsageBetween(before, CpuTimes{100, 350, 150}));
}

TEST(ProbeArithmetic, CpuTrackerFirstSampleUnknownThenUsage) {
    CpuUsageTracker tracker;
    CpuTimes next{0, 0, 0};
    bool readable = false;
    auto read = [&](CpuTimes& t) {
        t = next;
        return readable;
    };
    // A failing read neither gives a value nor uses up the first sample.
    EXPECT_FLOAT_EQ(-1.0f, tracker.Sample(read));
    readable = true;
    next = {1000, 3000, 1000};
    EXPECT_FLOAT_EQ(-1.0f, tracker.Sample(read));
    next = {1050, 3100, 1100};
    EXPECT_FLOAT_EQ(75.0f, tracker.Sample(read));
    // The next interval starts at the previous sample, not at the first.
    next = {1150, 3200, 1100};
    EXPECT_FLOAT_EQ(0.0f, tracker.Sample(read));
    readable = false;
    EXPECT_FLOAT_EQ(-1.0f, tracker.Sample(read));
}

TEST(ProbeArithmetic, CpuTrackerSerialisesConcurrentCallers) {
    CpuUsageTracker tracker;
    uint64_t ticks = 0;  // touched only inside the tracker's lock
    std::atomic<int> unknown{0};
    std::atomic<int> outOfRange{0};
    auto read = [&](CpuTimes& t) {
        ticks += 10;
        t = CpuTimes{ticks / 2, ticks, ticks};
        return true;
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            for (int j = 0; j < 500; ++j) {
                const float v = tracker.Sample(read);
                if (v == -1.0f) ++unknown;
                else if (v < 0.0f || v > 100.0f) ++outOfRange;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(1, unknown.load());
    EXPECT_EQ(0, outOfRange.load());
    EXPECT_EQ(8u * 500u * 10u, ticks);
}

TEST(ProbeArithmetic, GpuSumOf3dEnginesCappedAt100) {
    EXPECT_FLOAT_EQ(100.0f, SumGpu3dUtilisation({{L"pid_1_luid_0x0_phys_0_eng_0_engtype_3D", 60.0},
                                                 {L"pid_2_luid_0x0_phys_0_eng_0_engtype_3D", 60.0},
                                                 {L"pid_3_luid_0x0_phys_0_eng_1_engtype_3D", 60.0}}));
    EXPECT_FLOAT_EQ(20.0f, SumGpu3dUtilisation({{L"pid_1_eng_0_engtype_3D", 12.5},
                                                {L"pid_1_eng_2_engtype_VideoEncode", 90.0},
                                                {L"pid_1_eng_3_engtype_3d", 40.0},  // case differs
                                                {L"pid_4_eng_0_engtype_3D", 7.5},
                                                {L"", 30.0}}));
    EXPECT_FLOAT_EQ(0.0f, SumGpu3dUtilisation({}));
    EXPECT_FLOAT_EQ(100.0f, SumGpu3dUtilisation({{L"engtype_3D", 100.0}}));
    EXPECT_FLOAT_EQ(99.5f, CapGpuUtilisation(99.5));
    EXPECT_FLOAT_EQ(100.0f, CapGpuUtilisation(250.0));
}

TEST(ProbeText, TimeZoneOffsetFormatting) {
    EXPECT_EQ("+09:00", FormatTimeZoneOffset(9 * 3600));
    EXPECT_EQ("-03:30", FormatTimeZoneOffset(-(3 * 3600 + 1800)));
    EXPECT_EQ("+05:45", FormatTimeZoneOffset(5 * 3600 + 45 * 60));
    EXPECT_EQ("+00:00", FormatTimeZoneOffset(0));
    EXPECT_EQ("-05:00", FormatTimeZoneOffset(-5 * 3600));
    EXPECT_EQ("+14:00", FormatTimeZoneOffset(14 * 3600));
    EXPECT_EQ("-12:00", FormatTimeZoneOffset(-12 * 3600));
    // Less than an hour behind UTC keeps its sign; seconds are dropped.
    EXPECT_EQ("-00:30", FormatTimeZoneOffset(-1800));
    EXPECT_EQ("+00:30", FormatTimeZoneOffset(1800 + 59));
}

TEST(ProbeText, TimeZoneOffsetOfNamedZones) {
    struct Case {
        const char* zone;
        long long when;
        const char* expected;
    };
    const long long january = 1704067200;  // 2024-01-01 00:00 UTC
    const long long july = 1719835200;     // 2024-07-01 12:00 UTC, daylight-saving time in the north
    const Case cases[] = {
        {"KST-9", july, "+09:00"},
        {"NST3:30", january, "-03:30"},
#if defined(_WIN32)
        {"EST5EDT", january, "-05:00"},
        {"EST5EDT", july, "-05:00"},  // the standard offset also in summer
#else
        {"EST5EDT,M3.2.0,M11.1.0", january, "-05:00"},
        {"EST5EDT,M3.2.0,M11.1.0", july, "-05:00"},
#endif
    };
    for (const Case& c : cases) {
        testsupport::ScopedEnv tz("TZ", c.zone);
        EXPECT_EQ(c.expected, TimeZoneOffsetAt(c.when)) << c.zone;
    }
    testsupport::ScopedEnv tz("TZ", "KST-9");
    EXPECT_EQ("+09:00", GetTimeZoneOffset());
}

TEST(ProbeText, TimeZoneOffsetShape) {
    const std::string text = GetTimeZoneOffset();
    EXPECT_TRUE(IsZoneOffsetText(text)) << text;
}

TEST(ProbeText, HostNameChoice) {
    EXPECT_EQ("host-01.corp.example", ChooseHostName({"HOST01", "", "", "host-01.corp.example", "host-01"}));
    EXPECT_EQ("AAAA", ChooseHostName({"", "AAAA", "BBBB", "bbbb"}));  // earlier wins a tie
    EXPECT_EQ("BBBBB", ChooseHostName({"AAAA", "", "BBBBB", "CCCC"}));
    EXPECT_EQ("Unknown", ChooseHostName({"", "", ""}));
    EXPECT_EQ("Unknown", ChooseHostName({}));
    // Length counts bytes: a two-byte character makes a shorter text longer.
    EXPECT_EQ("h\xC3\xA9st", ChooseHostName({"host", "h\xC3\xA9st"}));
}

TEST(ProbeText, ProcessorNameLeadingBlanks) {
    EXPECT_EQ("Intel(R) Core(TM) i7  ", TrimLeadingBlanks("  Intel(R) Core(TM) i7  "));
    EXPECT_EQ("AMD Ryzen", TrimLeadingBlanks("\t \tAMD Ryzen"));
    EXPECT_EQ("", TrimLeadingBlanks(" \t  "));
    EXPECT_EQ("", TrimLeadingBlanks(""));
    EXPECT_EQ("x \ty", TrimLeadingBlanks("x \ty"));
}

TEST(ProbeText, KernelFileReaders) {
    std::string name;
    EXPECT_TRUE(ParseCpuInfoModelName("processor\t: 0\nvendor_id\t: GenuineIntel\nmodel\t\t: 85\n"
                                      "model name\t: Intel(R) Xeon(R)  CPU @ 2.20GHz\nprocessor\t: 1\n"
                                      "model name\t: second\n",
                                      name));
    EXPECT_EQ("Intel(R) Xeon(R)  CPU @ 2.20GHz", name);
    EXPECT_FALSE(ParseCpuInfoModelName("processor\t: 0\nBogoMIPS\t: 50.00\nmodel\t: 1\n", name));

    uint64_t kb = 0;
    EXPECT_TRUE(ParseMemInfoTotalKb("MemFree:  100 kB\nMemTotal:       16314512 kB\n", kb));
    EXPECT_EQ(16314512u, kb);
    EXPECT_FALSE(ParseMemInfoTotalKb("MemFree: 1 kB\n", kb));
    EXPECT_FALSE(ParseMemInfoTotalKb("MemTotal: lots\n", kb));

    CpuTimes t;
    ASSERT_TRUE(ParseProcStatCpuTimes("cpu  10 2 30 400 5 6 7 8 9 1\ncpu0 1 1 1 1 1 1 1 1 1 1\n", t));
    EXPECT_EQ(405u, t.idle);            // idle + iowait
    EXPECT_EQ(30u + 6u + 7u + 405u, t.kernel);  // system + irq + softirq, with idle
    EXPECT_EQ(10u + 2u + 8u, t.user);   // user + nice + steal
    ASSERT_TRUE(ParseProcStatCpuTimes("intr 1 2\ncpu 1 2 3 4\n", t));
    EXPECT_EQ(4u, t.idle);
    EXPECT_EQ(7u, t.kernel);
    EXPECT_EQ(3u, t.user);
    EXPECT_FALSE(ParseProcStatCpuTimes("cpu0 1 2 3 4\n", t));
    EXPECT_FALSE(ParseProcStatCpuTimes("cpu 1 2\n", t));
    EXPECT_FALSE(ParseProcStatCpuTimes("cpu 1 x 3 4\n", t));

    EXPECT_EQ("6.1.0", KernelReleaseVersion("6.1.0-13-amd64"));
    EXPECT_EQ("5.15.153", KernelReleaseVersion("5.15.153.1-microsoft-standard-WSL2"));
    EXPECT_EQ("6.8", KernelReleaseVersion("6.8-rc1"));
    EXPECT_EQ("4", KernelReleaseVersion("4.x"));
    EXPECT_EQ("", KernelReleaseVersion("linux"));
    EXPECT_EQ("", KernelReleaseVersion(""));

    unsigned id = 0;
    EXPECT_TRUE(ParseHexId("0x10de\n", id));
    EXPECT_EQ(0x10DEu, id);
    EXPECT_TRUE(ParseHexId("1002", id));
    EXPECT_EQ(0x1002u, id);
    EXPECT_FALSE(ParseHexId("", id));
    EXPECT_FALSE(ParseHexId("0x", id));
    EXPECT_FALSE(ParseHexId("0x123456789", id));
}

TEST(ProbeText, EncoderRuntimesByVendor) {
#if defined(_WIN32)
    EXPECT_EQ(std::vector<std::string>({"nvEncodeAPI64.dll"}), EncoderRuntimesForVendor(0x10DE));
    EXPECT_EQ(std::vector<std::string>({"amfrt64.dll"}), EncoderRuntimesForVendor(0x1002));
    EXPECT_EQ(std::vector<std::string>({"libmfx.dll", "mfx.dll"}), EncoderRuntimesForVendor(0x8086));
#else
    EXPECT_EQ(std::vector<std::string>({"libnvidia-encode.so.1"}), EncoderRuntimesForVendor(0x10DE));
    EXPECT_EQ(std::vector<std::string>({"libamfrt64.so.1"}), EncoderRuntimesForVendor(0x1002));
    EXPECT_EQ(std::vector<std::string>({"libmfx.so.1", "libvpl.so.2"}), EncoderRuntimesForVendor(0x8086));
#endif
    EXPECT_TRUE(EncoderRuntimesForVendor(0x1AF4).empty());
    EXPECT_TRUE(EncoderRuntimesForVendor(0).empty());
}

// ---------------------------------------------------------------------------
// Live probes.

TEST(LiveProbes, TextProbesGiveValueOrFallback) {
    EXPECT_FALSE(GetGpuName().empty());
    EXPECT_FALSE(GetComputerName().empty());
    EXPECT_FALSE(GetDeviceModel().empty());
    EXPECT_FALSE(GetHostName().empty());
    const std::string type = GetDeviceType();
    EXPECT_TRUE(type == "Desktop" || type == "Laptop") << type;
    const std::string os = GetOsVersion();
    EXPECT_TRUE(os == "Unknown" || IsDottedVersion(os)) << os;
    // The processor name never starts with a blank ("" when the source has none).
    const std::string cpu = GetCpuName();
    if (!cpu.empty()) {
        EXPECT_NE(' ', cpu[0]);
        EXPECT_NE('\t', cpu[0]);
    }
}

TEST(LiveProbes, HostNameTakesLongestCandidate) {
    const std::string longName(300, 'm');  // longer than any name the system gives
    testsupport::ScopedEnv computer("COMPUTERNAME", "SHORT");
    testsupport::ScopedEnv machine("MachineName", longName);
    EXPECT_EQ(longName, GetHostName());
    testsupport::ScopedEnv host("HOSTNAME", longName + "x");
    EXPECT_EQ(longName + "x", GetHostName());
}

TEST(LiveProbes, ModuleVersionOutsideTheLibraryFile) {
    // The test program holds the library's code under its own name.
    EXPECT_EQ("1.0.0.0", GetModuleVersion());
}

TEST(LiveProbes, NumericProbesInRange) {
    EXPECT_GE(GetTotalMemoryGb(), 0.0f);
    EXPECT_GE(GetGpuMemoryGb(), 0.0f);
#if !defined(_WIN32)
    EXPECT_GT(GetTotalMemoryGb(), 0.0f);  // /proc/meminfo is always there
#endif
    const float battery = GetBatteryPercent();
    EXPECT_TRUE(battery == -1.0f || (battery >= 0.0f && battery <= 100.0f)) << battery;
    int width = -7, height = -7;
    GetScreenSize(width, height);
    EXPECT_GE(width, 0);
    EXPECT_GE(height, 0);
}

TEST(LiveProbes, CpuUsageUnknownFirstThenMeasured) {
    EXPECT_FLOAT_EQ(-1.0f, GetCpuUsagePercent());
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    volatile unsigned spin = 0;
    while (std::chrono::steady_clock::now() < until) spin = spin + 1;
    const float usage = GetCpuUsagePercent();
    EXPECT_GE(usage, 0.0f);
    EXPECT_LE(usage, 100.0f);
}

TEST(LiveProbes, GpuUsageUnknownFirstThenUsageOrUnknown) {
    EXPECT_FLOAT_EQ(-1.0f, GetGpuUsagePercent());
    const float second = GetGpuUsagePercent();
    const float third = GetGpuUsagePercent();
    EXPECT_TRUE(IsUsageOrUnknown(second)) << second;
    EXPECT_TRUE(IsUsageOrUnknown(third)) << third;
}

TEST(LiveProbes, UsageProbesFromManyThreads) {
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 6; ++i) {
        threads.emplace_back([&] {
            for (int j = 0; j < 50; ++j) {
                if (!IsUsageOrUnknown(GetCpuUsagePercent())) ++bad;
                if (!IsUsageOrUnknown(GetGpuUsagePercent())) ++bad;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(0, bad.load());
}

TEST(LiveProbes, DetectGpuAlwaysFlagsEncoderAndLogsOutcome) {
    Logger::Instance().Init();
    std::string name = "previous";
    int encoder = 0;
    DetectGpu(name, encoder);
    Logger::Instance().Stop();
    EXPECT_EQ(1, encoder);
    EXPECT_FALSE(name.empty());

    const std::string path = Logger::Instance().CurrentLogFilePath();
    ASSERT_FALSE(path.empty());
    int outcomes = 0;
    for (const std::string& line : testsupport::ReadLines(path)) {
        if (line.find("[INFO] [TesselSDK] Detected GPU: " + name + " (encoding: ") != std::string::npos) {
            EXPECT_TRUE(line.find("(encoding: hardware)") != std::string::npos ||
                        line.find("(encoding: software)") != std::string::npos)
                << line;
            ++outcomes;
        } else if (line.find("[WARN] [TesselSDK] No DXGI Adapter found.") != std::string::npos ||
                   line.find("[ERROR] [TesselSDK] Failed to create DXGI Factory.") != std::string::npos) {
            EXPECT_EQ("Unknown GPU", name);
            ++outcomes;
        }
    }
    EXPECT_EQ(1, outcomes);
}
