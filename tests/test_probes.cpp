// System probes (fixed inputs, and live: a value of its kind or the fallback) and account access
// (the stand-in library answers from OMBREL_ACCESS_TOKEN, OMBREL_LANGUAGE and OMBREL_NATION).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/account.h"
#include "platform/probes.h"
#include "platform/probes_primitives.h"
#include "sdk_session.h"
#if defined(_WIN32)
#include <stdlib.h>

#include "platform/probes_gpu_win.h"
#else
#include <dlfcn.h>

#include "Ombrel.h"
#include "platform/probes_kernel_text_linux.h"
#endif

using namespace TesselSDK;
using namespace TesselSDK::probes;
using namespace testsupport;

// Sources whose every read gives the next answer of a script.
template <typename T>
struct Script {
    static inline std::vector<std::optional<T>> answers;
    static inline size_t next = 0;
    static void Play(std::vector<std::optional<T>> script) { answers = std::move(script), next = 0; }
    static std::optional<T> Read() { return next < answers.size() ? answers[next++] : std::nullopt; }
};
struct AdapterAnswer {
    AdapterStatus status;
    const char* name;
};
static std::vector<AdapterAnswer> adapterAnswers;
static size_t adapterReads = 0;
static AdapterStatus ScriptedAdapter0(std::string& name, unsigned& vendorId) {
    const AdapterAnswer answer = adapterAnswers.at(adapterReads++ % adapterAnswers.size());
    if (answer.status == AdapterStatus::kOk) name = answer.name, vendorId = 0x10DE;  // as the platform: only on success
    return answer.status;
}
struct UsingSources {
    explicit UsingSources(const Sources& sources) { UseSources(&sources); }
    ~UsingSources() { UseSources(nullptr); }
};

TEST(ProbeArithmetic, CpuUsageFromTheLastSampleOfAnyThreadAndFactsReadAtEveryCall) {
    // A failed first read uses up nothing; kernel includes idle; each from the last sample; empty interval 0.
    const CpuTimes times[] = {{}, {1000, 3000, 1000}, {1050, 3100, 1100}, {1150, 3200, 1100}, {1150, 3200, 1100}};
    const float want[] = {-1.0f, -1.0f, 75.0f, 0.0f, 0.0f};
    CpuUsageTracker cpu;
    for (int i = 0; i < 5; ++i) EXPECT_FLOAT_EQ(want[i], cpu.Sample([&](CpuTimes& t) { return t = times[i], i > 0; }));

    CpuUsageTracker raced;
    uint64_t ticks = 0;  // touched only inside the tracker's lock
    std::atomic<int> unknown{0}, busy75{0};
    auto sampleMany = [&] {
        for (int j = 0; j < 500; ++j) {
            const float v = raced.Sample([&](CpuTimes& t) { return ticks += 10, t = {ticks / 2, ticks, ticks}, true; });
            unknown += v == -1.0f;
            busy75 += v == 75.0f;
        }
    };
    std::thread threads[8];
    for (auto& t : threads) t = std::thread(sampleMany);
    for (auto& t : threads) t.join();
    EXPECT_TRUE(unknown == 1 && busy75 == 8 * 500 - 1) << unknown << " unknown, " << busy75 << " at 75%";

    // Every fact probe reads its source at each call, and gives its fallback while the source fails.
    Sources scripted;
    scripted.gpuName = scripted.moduleVersion = scripted.osVersion = scripted.cpuName = scripted.deviceModel =
        Script<std::string>::Read;
    scripted.totalMemoryGb = scripted.gpuMemoryGb = Script<float>::Read;
    scripted.adapter0 = ScriptedAdapter0;
    UsingSources using_(scripted);
    const std::pair<std::string (*)(), const char*> texts[] = {{GetGpuName, "Unknown GPU"},
        {GetModuleVersion, "1.0.0.0"}, {GetOsVersion, "Unknown"}, {GetCpuName, "Unknown CPU"},
        {GetDeviceModel, "Unknown Device"}};
    for (const auto& [probe, fallback] : texts) {
        Script<std::string>::Play({"A", std::nullopt, "B", ""});
        std::string seen;
        for (int call = 0; call < 4; ++call) seen += probe() + "|";
        EXPECT_EQ(std::string("A|") + fallback + "|B||", seen);
    }
    for (float (*probe)() : {GetTotalMemoryGb, GetGpuMemoryGb}) {
        Script<float>::Play({15.5f, std::nullopt, 7.0f});
        EXPECT_TRUE(probe() == 15.5f && probe() == 0.0f && probe() == 7.0f);
    }
    // DetectGpu: the adapter's own name, read again at each call; "Unknown GPU" when there is none; always 1.
    adapterAnswers = {{AdapterStatus::kOk, "GPU one"}, {AdapterStatus::kNoAdapter, "unwritten"},
                      {AdapterStatus::kNoFactory, "unwritten"}, {AdapterStatus::kOk, "GPU two"}};
    std::string names;
    for (size_t i = 0; i < adapterAnswers.size(); ++i) {
        std::string name = "previous";
        int encoder = 0;
        DetectGpu(name, encoder);
        names += name + "|" + std::to_string(encoder) + "|";
    }
    EXPECT_EQ("GPU one|1|Unknown GPU|1|Unknown GPU|1|GPU two|1|", names);
#if defined(_WIN32)
    EXPECT_FLOAT_EQ(100.0f,  // the 3D engines of every process summed (name case as Windows gives it), capped at 100
                     SumGpu3dUtilisation({{L"pid_1_eng_0_engtype_3D", 60.0}, {L"pid_2_eng_1_engtype_3D", 60.0}}));
    EXPECT_FLOAT_EQ(20.0f, SumGpu3dUtilisation({{L"pid_1_eng_0_engtype_3D", 12.5}, {L"pid_1_engtype_VideoEncode", 90.0},
                                                {L"pid_1_eng_3_engtype_3d", 40.0}, {L"pid_4_eng_0_engtype_3D", 7.5}}));
#endif
}

TEST(ProbeText, TimeZoneOffsetHostNameAndKernelTexts) {
    // Less than an hour behind UTC keeps its sign; UTC itself is "+".
    EXPECT_EQ("-00:30 +00:30 +00:00", FormatTimeZoneOffset(-1800) + " " + FormatTimeZoneOffset(1800) + " " +
                                          FormatTimeZoneOffset(0));
    const long long july = 1719835200;  // 2024-07-01 12:00 UTC: summer time in the north, yet the standard offset
    for (auto z : {std::pair("KST-9", "+09:00"), std::pair("NST3:30", "-03:30"), std::pair("EST5EDT", "-05:00"),
                   std::pair("GMT0", "+00:00"), std::pair("HHA-0:30", "+00:30"), std::pair("HHB0:30", "-00:30")}) {
        ScopedEnv tz("TZ", z.first);
        EXPECT_EQ(z.second, TimeZoneOffsetAt(july)) << z.first;
    }
    // The longest name, the earlier of a tie, "Unknown" for none.
    EXPECT_EQ("AAAA Unknown", ChooseHostName({"", "AAAA", "BBBB", "AAA"}) + " " + ChooseHostName({"", ""}));
    EXPECT_EQ("AMD Ryzen  ", TrimLeadingBlanks("\t \tAMD Ryzen  ") + TrimLeadingBlanks(" \t  "));  // all blank: ""
#if !defined(_WIN32)
    std::string name;
    EXPECT_TRUE(ParseCpuInfoModelName("model\t: 85\nmodel name\t: A  B\nmodel name\t: 2\n", name) && name == "A  B");
    uint64_t kb = 0;
    EXPECT_TRUE(ParseMemInfoTotalKb("MemFree:  100 kB\nMemTotal:       16314512 kB\n", kb) && kb == 16314512u) << kb;
    const struct { const char* value; bool ok; uint64_t kb; } numbers[] = {{"1920 kB", true, 1920}, {"0", true, 0},
        {"  42 kB", true, 42}, {"9", true, 9}, {"18446744073709551615 kB", true, UINT64_MAX},
        {"18446744073709551616 kB", false, 0}, {"kB", false, 0}, {"", false, 0}};
    for (const auto& n : numbers) {
        kb = 7;
        EXPECT_EQ(n.ok, ParseMemInfoTotalKb(std::string("MemTotal:") + n.value + "\n", kb)) << n.value;
        EXPECT_EQ(n.ok ? n.kb : 7u, kb) << n.value;
    }
    CpuTimes t;
    ASSERT_TRUE(ParseProcStatCpuTimes("cpu  10 2 30 400 5 6 7 8 9 1\ncpu0 1 1 1 1 1 1 1 1 1 1\n", t));
    EXPECT_TRUE(t.idle == 405u && t.kernel == 30u + 6u + 7u + 405u && t.user == 10u + 2u + 8u);
    ASSERT_TRUE(ParseProcStatCpuTimes("cpu 9 90 19 99\n", t));  // four fields are enough
    EXPECT_TRUE(t.idle == 99u && t.kernel == 19u + 99u && t.user == 99u) << t.idle << " " << t.kernel << " " << t.user;
    EXPECT_FALSE(ParseProcStatCpuTimes("cpu0 1 2 3 4\ncpu 1 2 3\n", t));
    EXPECT_FALSE(ParseProcStatCpuTimes("cpu 1 2 x 4\n", t));
    EXPECT_EQ("box Unknown-PC rig", ShortHostName("box.example.org") + " " + ShortHostName(".lan") + " " +
                                        ShortHostName("rig"));
    for (auto r : {std::pair("5.15.153.1-microsoft-standard-WSL2", "5.15.153"), std::pair("6.1.0-13-amd64", "6.1.0"),
                   std::pair("6.9", "6.9"), std::pair("10.19-rc1", "10.19"), std::pair("6.x", "6"),
                   std::pair("v6", "")}) {
        EXPECT_EQ(r.second, KernelReleaseVersion(r.first)) << r.first;
    }
    const struct { const char* text; bool ok; unsigned id; } ids[] = {{"0x10de", true, 0x10de},
        {" 0X1002", true, 0x1002}, {"8086", true, 0x8086}, {"0xAbC9", true, 0xabc9}, {"0xffffffff", true, 0xffffffff},
        {"0x123456789", false, 0}, {"0x", false, 0}, {"", false, 0}};
    for (const auto& h : ids) {
        unsigned id = 7;
        EXPECT_EQ(h.ok, ParseHexId(h.text, id)) << h.text;
        EXPECT_EQ(h.ok ? h.id : 7u, id) << h.text;
    }
    // Graphics adapter 0: the driver's product name, else the vendor and the ids; none without a vendor id.
    const struct { const char* vendor; const char* device; const char* product; const char* name; } adapters[] = {
        {"0x10de", "0x2684", "", "NVIDIA GPU [10de:2684]"}, {"0x1002", "0x73bf", "Radeon RX 6800", "Radeon RX 6800"},
        {"0x8086", "", "", "Intel GPU [8086:0000]"}, {"0x1af4", "0x1050", "", "GPU [1af4:1050]"},
        {"", "0x1050", "", ""}};
    for (const auto& a : adapters) {
        std::string gpu = "none";
        unsigned vendor = 0;
        EXPECT_EQ(*a.name != '\0', ParseDrmAdapter(a.vendor, a.device, a.product, gpu, vendor)) << a.name;
        EXPECT_EQ(*a.name != '\0' ? a.name : "none", gpu);
    }
#endif
}

TEST(LiveProbes, EveryProbeGivesAValueOfItsKindOrItsFallback) {
    EXPECT_FLOAT_EQ(-1.0f, GetCpuUsagePercent());  // the process's first samples
    EXPECT_FLOAT_EQ(-1.0f, GetGpuUsagePercent());
    for (const std::string& s : {GetGpuName(), GetComputerName(), GetDeviceModel(), GetHostName()}) EXPECT_NE("", s);
    EXPECT_TRUE(GetDeviceType() == "Desktop" || GetDeviceType() == "Laptop") << GetDeviceType();
    const std::string os = GetOsVersion(), cpu = GetCpuName();
    EXPECT_TRUE(os == "Unknown" || (!os.empty() && os[0] >= '0' && os[0] <= '9' && os.back() != '.')) << os;
    EXPECT_TRUE(cpu.empty() || (cpu[0] != ' ' && cpu[0] != '\t')) << cpu;
    EXPECT_EQ("1.0.0.0", GetModuleVersion());  // the test program holds the code under its own name
    int width = -7, height = -7;
    GetScreenSize(width, height);
    const float battery = GetBatteryPercent();
    EXPECT_TRUE(GetGpuMemoryGb() >= 0.0f && GetTotalMemoryGb() > 0.0f && battery >= -1.0f && battery <= 100.0f &&
                width >= 0 && height >= 0);
    for (const char* variable : {"COMPUTERNAME", "HOSTNAME", "MachineName"}) {
        ScopedEnv host(variable, std::string(300, 'm'));  // longer than any name the system gives
        EXPECT_EQ(std::string(300, 'm'), GetHostName()) << variable;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const float usage = GetCpuUsagePercent(), gpu = GetGpuUsagePercent();
    EXPECT_TRUE(usage >= 0.0f && usage <= 100.0f && gpu >= -1.0f && gpu <= 100.0f) << usage << " " << gpu;

    Logger::Instance().Init();
    LogWindow log;
    std::string name = "previous";
    int encoder = 0;
    DetectGpu(name, encoder);
    LogMessage(kLogInfo, "probes done");
    ASSERT_TRUE(log.WaitFor("probes done"));
    const size_t detected = log.Count("[INFO] [TesselSDK] Detected GPU: " + name + " (encoding: ");
    const size_t missing = log.Count("[WARN] [TesselSDK] No DXGI Adapter found.") +
                           log.Count("[ERROR] [TesselSDK] Failed to create DXGI Factory.");
    EXPECT_TRUE(encoder == 1 && detected + missing == 1 && (detected || name == "Unknown GPU") && !name.empty())
        << name;
}

#if !defined(_WIN32)
static bool fillWholeTokenBuffer = false;  // else the call goes on to the library, whose place this takes
Halyx::Quenda::Result Base_GetAccessToken(wchar_t* buffer, int capacity) {
    const auto next = reinterpret_cast<decltype(&Base_GetAccessToken)>(dlsym(RTLD_NEXT, "_Z19Base_GetAccessTokenPwi"));
    if (!fillWholeTokenBuffer) return next(buffer, capacity);
    for (int i = 0; i < capacity; ++i) buffer[i] = L't';
    return Halyx::Quenda::Result(true);
}
#endif

TEST(Account, TokenNeverReadPastTheBufferLanguageAndNationUntouchedOnFailure) {
    const std::string longest(1023, 't');  // fills the 1024-unit buffer with its terminator
    for (const std::string& value : {std::string("eyJhbGciOi.payload.sig-123"), longest, longest + "t"}) {
        ScopedEnv token("OMBREL_ACCESS_TOKEN", value);
        EXPECT_EQ(value.size() < 1024 ? value : "", GetAccessToken());  // the library refuses what does not fit
    }
    ScopedEnv token("OMBREL_ACCESS_TOKEN");
    EXPECT_EQ("", GetAccessToken());
#if defined(_WIN32)
    _wputenv_s(L"OMBREL_ACCESS_TOKEN", L"\xD55C\xAD6D\xC5B4");  // the environment is UTF-16 there
#else
    fillWholeTokenBuffer = true;
    EXPECT_EQ(longest, GetAccessToken());
    fillWholeTokenBuffer = false;
    SetEnv("OMBREL_ACCESS_TOKEN", "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4");
#endif
    EXPECT_EQ("\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4", GetAccessToken());  // Korean, three syllables

    // Language and nation replace the defaults even when empty; a failure leaves them untouched.
    const struct { const char* language; const char* nation; bool ok; } cases[] = {
        {"ko-KR", "KR", true}, {"", "", true}, {"ko-KR", nullptr, false}};
    for (const auto& c : cases) {
        ScopedEnv language("OMBREL_LANGUAGE", c.language), nation("OMBREL_NATION");
        if (c.nation != nullptr) SetEnv("OMBREL_NATION", c.nation);
        std::string lang = "en-US", nat = "US", onlyNation = "US";
        EXPECT_EQ(c.ok, GetPlatformLanguageAndNation(lang, nat) && GetPlatformNation(onlyNation));
        EXPECT_EQ(c.ok ? std::string(c.language) + "/" + c.nation + "/" + c.nation : "en-US/US/US",
                  lang + "/" + nat + "/" + onlyNation);
    }
}
