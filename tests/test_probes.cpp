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
#include "platform/probes_primitives.h"
#include "test_support.h"
#if defined(_WIN32)
#include "platform/probes_gpu_win.h"
#else
#include "platform/probes_kernel_text_linux.h"
#endif

using namespace TesselSDK;
using namespace TesselSDK::probes;

namespace {

bool IsUsageOrUnknown(float v) { return v == -1.0f || (v >= 0.0f && v <= 100.0f); }

}  // namespace

TEST(ProbeArithmetic, CpuUsageIsUnknownFirstThenTheBusyShareSinceTheLastSample) {
    // Kernel time includes idle: busy = kernel + user - idle.
    EXPECT_FLOAT_EQ(70.0f, CpuUsageBetween(CpuTimes{100, 300, 100}, CpuTimes{160, 400, 200}));
    EXPECT_FLOAT_EQ(0.0f, CpuUsageBetween(CpuTimes{100, 300, 100}, CpuTimes{100, 300, 100}));

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
    next = {1150, 3200, 1100};  // from the previous sample, not the first
    EXPECT_FLOAT_EQ(0.0f, tracker.Sample(read));
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

TEST(ProbeArithmetic, AFactIsKeptOnlyOnceReadSuccessfully) {
    static KeptFact<std::string> fact;  // static, as in the probes: the kept value is never freed
    int reads = 0;
    bool readable = false;
    auto read = [&]() -> std::optional<std::string> {
        ++reads;
        if (!readable) return std::nullopt;
        return "CPU " + std::to_string(reads);
    };
    EXPECT_FALSE(fact.Get(read).has_value());
    readable = true;  // a failed read is not kept: the next call reads again
    EXPECT_EQ("CPU 2", fact.Get(read).value_or(""));
    readable = false;
    EXPECT_EQ("CPU 2", fact.Get(read).value_or(""));
    EXPECT_EQ(2, reads);
}

#if defined(_WIN32)
TEST(ProbeArithmetic, GpuSumOf3dEnginesCappedAt100) {
    EXPECT_FLOAT_EQ(100.0f, SumGpu3dUtilisation({{L"pid_1_luid_0x0_phys_0_eng_0_engtype_3D", 60.0},
                                                 {L"pid_2_luid_0x0_phys_0_eng_0_engtype_3D", 60.0},
                                                 {L"pid_3_luid_0x0_phys_0_eng_1_engtype_3D", 60.0}}));
    EXPECT_FLOAT_EQ(20.0f, SumGpu3dUtilisation({{L"pid_1_eng_0_engtype_3D", 12.5},
                                                {L"pid_1_eng_2_engtype_VideoEncode", 90.0},
                                                {L"pid_1_eng_3_engtype_3d", 40.0},  // case differs
                                                {L"pid_4_eng_0_engtype_3D", 7.5}}));
}
#endif

TEST(ProbeText, TimeZoneOffset) {
    EXPECT_EQ("+05:45", FormatTimeZoneOffset(5 * 3600 + 45 * 60));
    EXPECT_EQ("+00:00", FormatTimeZoneOffset(0));
    // Less than an hour behind UTC keeps its sign; seconds are dropped.
    EXPECT_EQ("-00:30", FormatTimeZoneOffset(-1800));
    EXPECT_EQ("+00:30", FormatTimeZoneOffset(1800 + 59));

    const long long january = 1704067200;  // 2024-01-01 00:00 UTC
    const long long july = 1719835200;     // 2024-07-01 12:00 UTC, daylight-saving time in the north
#if defined(_WIN32)
    const char* eastern = "EST5EDT";
#else
    const char* eastern = "EST5EDT,M3.2.0,M11.1.0";
#endif
    const struct {
        const char* zone;
        long long when;
        const char* expected;
    } cases[] = {
        {"KST-9", july, "+09:00"},
        {"NST3:30", january, "-03:30"},
        {eastern, january, "-05:00"},
        {eastern, july, "-05:00"},  // the standard offset also in summer
    };
    for (const auto& c : cases) {
        testsupport::ScopedEnv tz("TZ", c.zone);
        EXPECT_EQ(c.expected, TimeZoneOffsetAt(c.when)) << c.zone;
    }
    testsupport::ScopedEnv tz("TZ", "KST-9");
    EXPECT_EQ("+09:00", GetTimeZoneOffset());
}

TEST(ProbeText, HostNameChoiceAndProcessorNameTrim) {
    EXPECT_EQ("host-01.corp.example", ChooseHostName({"HOST01", "", "", "host-01.corp.example", "host-01"}));
    EXPECT_EQ("AAAA", ChooseHostName({"", "AAAA", "BBBB"}));  // earlier wins a tie
    EXPECT_EQ("Unknown", ChooseHostName({"", "", ""}));
    // Length counts bytes: a two-byte character makes a shorter text longer.
    EXPECT_EQ("h\xC3\xA9st", ChooseHostName({"host", "h\xC3\xA9st"}));

    EXPECT_EQ("Intel(R) Core(TM) i7  ", TrimLeadingBlanks("  Intel(R) Core(TM) i7  "));
    EXPECT_EQ("AMD Ryzen", TrimLeadingBlanks("\t \tAMD Ryzen"));
    EXPECT_EQ("", TrimLeadingBlanks(" \t  "));
}

#if !defined(_WIN32)
TEST(ProbeText, KernelFileReaders) {
    std::string name;
    EXPECT_TRUE(ParseCpuInfoModelName("processor\t: 0\nmodel\t\t: 85\n"
                                      "model name\t: Intel(R) Xeon(R)  CPU @ 2.20GHz\nmodel name\t: second\n",
                                      name));
    EXPECT_EQ("Intel(R) Xeon(R)  CPU @ 2.20GHz", name);
    EXPECT_FALSE(ParseCpuInfoModelName("processor\t: 0\nmodel\t: 1\n", name));

    uint64_t kb = 0;
    EXPECT_TRUE(ParseMemInfoTotalKb("MemFree:  100 kB\nMemTotal:       16314512 kB\n", kb));
    EXPECT_EQ(16314512u, kb);
    EXPECT_FALSE(ParseMemInfoTotalKb("MemTotal: lots\n", kb));

    CpuTimes t;
    ASSERT_TRUE(ParseProcStatCpuTimes("cpu  10 2 30 400 5 6 7 8 9 1\ncpu0 1 1 1 1 1 1 1 1 1 1\n", t));
    EXPECT_EQ(405u, t.idle);                    // idle + iowait
    EXPECT_EQ(30u + 6u + 7u + 405u, t.kernel);  // system + irq + softirq, with idle
    EXPECT_EQ(10u + 2u + 8u, t.user);           // user + nice + steal
    EXPECT_FALSE(ParseProcStatCpuTimes("cpu0 1 2 3 4\ncpu 1 2\n", t));

    EXPECT_EQ("5.15.153", KernelReleaseVersion("5.15.153.1-microsoft-standard-WSL2"));
    unsigned id = 0;
    EXPECT_TRUE(ParseHexId("0x10de\n", id));
    EXPECT_EQ(0x10DEu, id);
}
#endif

// ---------------------------------------------------------------------------
// Live probes: a value of the probe's kind or its fallback.

TEST(LiveProbes, EveryProbeGivesAValueOrItsFallback) {
    EXPECT_FALSE(GetGpuName().empty());
    EXPECT_FALSE(GetComputerName().empty());
    EXPECT_FALSE(GetDeviceModel().empty());
    EXPECT_FALSE(GetHostName().empty());
    const std::string type = GetDeviceType();
    EXPECT_TRUE(type == "Desktop" || type == "Laptop") << type;
    const std::string os = GetOsVersion();
    EXPECT_TRUE(os == "Unknown" || (!os.empty() && os[0] >= '0' && os[0] <= '9' && os.back() != '.')) << os;
    const std::string cpu = GetCpuName();
    EXPECT_TRUE(cpu.empty() || (cpu[0] != ' ' && cpu[0] != '\t')) << cpu;
    // The test program holds the library's code under its own name.
    EXPECT_EQ("1.0.0.0", GetModuleVersion());

    EXPECT_GE(GetGpuMemoryGb(), 0.0f);
#if defined(_WIN32)
    EXPECT_GE(GetTotalMemoryGb(), 0.0f);
#else
    EXPECT_GT(GetTotalMemoryGb(), 0.0f);  // /proc/meminfo is always there
#endif
    EXPECT_TRUE(IsUsageOrUnknown(GetBatteryPercent()));
    int width = -7, height = -7;
    GetScreenSize(width, height);
    EXPECT_GE(width, 0);
    EXPECT_GE(height, 0);
}

TEST(LiveProbes, HostNameTakesLongestCandidate) {
    const std::string longName(300, 'm');  // longer than any name the system gives
    testsupport::ScopedEnv computer("COMPUTERNAME", "SHORT");
    testsupport::ScopedEnv machine("MachineName", longName);
    EXPECT_EQ(longName, GetHostName());
    testsupport::ScopedEnv host("HOSTNAME", longName + "x");
    EXPECT_EQ(longName + "x", GetHostName());
}

TEST(LiveProbes, UsageProbesAreUnknownFirstThenMeasured) {
    EXPECT_FLOAT_EQ(-1.0f, GetCpuUsagePercent());
    EXPECT_FLOAT_EQ(-1.0f, GetGpuUsagePercent());
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    volatile unsigned spin = 0;
    while (std::chrono::steady_clock::now() < until) spin = spin + 1;
    const float usage = GetCpuUsagePercent();
    EXPECT_GE(usage, 0.0f);
    EXPECT_LE(usage, 100.0f);
    EXPECT_TRUE(IsUsageOrUnknown(GetGpuUsagePercent()));
}

TEST(LiveProbes, DetectGpuAlwaysFlagsEncoderAndLogsOneOutcome) {
    Logger::Instance().Init();
    std::string name = "previous";
    int encoder = 0;
    DetectGpu(name, encoder);
    Logger::Instance().Stop();
    EXPECT_EQ(1, encoder);

    const std::string text = testsupport::ReadFile(Logger::Instance().CurrentLogFilePath());
    const bool found = text.find("[INFO] [TesselSDK] Detected GPU: " + name + " (encoding: hardware)") != std::string::npos ||
                       text.find("[INFO] [TesselSDK] Detected GPU: " + name + " (encoding: software)") != std::string::npos;
    const bool missing = text.find("[WARN] [TesselSDK] No DXGI Adapter found.") != std::string::npos ||
                         text.find("[ERROR] [TesselSDK] Failed to create DXGI Factory.") != std::string::npos;
    EXPECT_NE(found, missing) << text;
    if (missing) {
        EXPECT_EQ("Unknown GPU", name);
    }
}
