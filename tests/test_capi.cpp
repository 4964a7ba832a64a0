// The flat C interface, the object behind it, Shutdown, and unloading the built library.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <type_traits>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "capi/handle.h"
#include "sdk_session.h"
#include "util/clock.h"

using namespace testsupport;
using TesselSDK::PlatformInterface;

namespace {

std::vector<std::string> g_calls;
void Record(const std::string& call) { g_calls.push_back(call); }
void OnInit(bool ok) { Record(std::string("init:") + (ok ? "1" : "0")); }
void Done(bool ok, int status, const char* message) { Record("done:" + std::to_string(ok + 10 * status) + message); }

#ifdef _WIN32
using Library = std::unique_ptr<std::remove_pointer_t<HMODULE>, BOOL (*)(HMODULE)>;
Library Open() { return Library(LoadLibraryA("tesselsdk.dll"), &FreeLibrary); }  // from the program's folder
void* Symbol(HMODULE m, const char* name) { return reinterpret_cast<void*>(GetProcAddress(m, name)); }
#else
using Library = std::unique_ptr<void, int (*)(void*)>;
Library Open() {
    const char* dir = std::getenv("TESSELSDK_TEST_BIN_DIR");
    const std::string path = std::string(dir ? dir : ".") + "/libtesselsdk.so";
    return Library(dlopen(path.c_str(), RTLD_NOW), &dlclose);
}
void* Symbol(void* m, const char* name) { return dlsym(m, name); }
#endif
#define EXPORT(name) reinterpret_cast<decltype(&name)>(Symbol(lib.get(), #name))

}  // namespace

TEST(CApi, NullHandleOrNoObjectReachesNothingAndThrowingHostFunctionsStayInside) {
    g_calls.clear();
    ScopedEnv gate("streaming_yn");  // unset: initialisation stops before any request
    TesselSDKHandle* h = TesselSDK_Create(nullptr, 1);
    ASSERT_NE(nullptr, h);
    for (TesselSDKHandle* none : {static_cast<TesselSDKHandle*>(nullptr), h}) {
        TesselSDK_Shutdown(none);
        TesselSDK_HandlePlayerConnected(none, "p1", 1, &Done);
        TesselSDK_SendMobileNotify(none, "key", "{}", "en");
        TesselSDK_PushWebRTCStatsReport(none, nullptr, nullptr);
        TesselSDK_SendTallo(none, nullptr, nullptr, nullptr, nullptr);
        int a = 5, b = 6, c = 7;
        EXPECT_EQ(0, TesselSDK_GetBitrateConfig(none, "AUTO", &a, &b, &c));
        EXPECT_TRUE(a == 5 && b == 6 && c == 7) << "outputs untouched";
        EXPECT_STREQ("", TesselSDK_GetWindowsEventsApiUrl(none));
        EXPECT_STREQ("", TesselSDK_GetEventApiUrl(none));
    }
    TesselSDK_Initialize(nullptr, &OnInit);
    TesselSDK_SetInitSentry(nullptr, nullptr);
    TesselSDK_SetCreateStreamer(nullptr, nullptr);
    TesselSDK_SetStartStreaming(nullptr, nullptr);
    TesselSDK_SetBitrateCallback(nullptr, nullptr);
    TesselSDK_SetOnConnectionReady(nullptr, nullptr);
    TesselSDK_SetOnApplyRTCConfig(nullptr, nullptr);
    TesselSDK_Log(nullptr, TESSELSDK_LOG_ERROR, nullptr);
    TesselSDK_Destroy(nullptr);
    EXPECT_TRUE(g_calls.empty());

    TesselSDK_SetOnConnectionReady(h, [](const char*, bool, int, const char*) { Record("ready"); });
    TesselSDK_Initialize(h, nullptr);  // replaced by the next one (the sanitizer build reports a leak)
    EXPECT_NO_THROW(TesselSDK_Initialize(h, [](bool ok) { OnInit(ok); throw std::runtime_error("x"); }));
    int a = 5, c = 7;  // no profile: 0, and each non-null output receives 0
    EXPECT_EQ(0, TesselSDK_GetBitrateConfig(h, nullptr, &a, nullptr, &c));
    EXPECT_TRUE(a == 0 && c == 0);
    TesselSDK_HandlePlayerConnected(h, nullptr, 0, nullptr);  // reports to no OnConnectionReady
    EXPECT_NO_THROW(TesselSDK_HandlePlayerConnected(
        h, "p1", 0, [](bool ok, int status, const char* m) { Done(ok, status, m); throw std::runtime_error("x"); }));
    TesselSDK_PushWebRTCStatsReport(h, nullptr, nullptr);
    TesselSDK_SendTallo(h, nullptr, nullptr, nullptr, nullptr);

    // A throwing host callback fails the initialisation once; getter texts belong to the thread.
    ResetServer();
    AddRoute({{"path", LiveConfigPath()}, {"status", 200}, {"body", SessionConfig().dump()}});
    SetEnv("streaming_yn", "y");
    ScopedEnv env("ENV");
    TesselSDK_SetStartStreaming(h, [] { Record("start"); throw std::runtime_error("host"); });
    EXPECT_NO_THROW(TesselSDK_Initialize(h, &OnInit));
    EXPECT_EQ((std::vector<std::string>{"init:0", "done:0TURN API URL missing", "start", "init:0"}), g_calls);
    const char* mine = TesselSDK_GetEventApiUrl(h);
    const char* win = TesselSDK_GetWindowsEventsApiUrl(h);
    const char* other = nullptr;
    std::thread([&] { other = TesselSDK_GetEventApiUrl(h); }).join();
    EXPECT_NE(mine, other);
    EXPECT_STREQ("", TesselSDK_GetEventApiUrl(nullptr));
    EXPECT_EQ(ServerUrl() + "/event/v1.0/notify", mine);
    EXPECT_EQ(ServerUrl() + "/windows-events", win);
    TesselSDK_Destroy(h);
}

namespace {
struct HostFault {
    int code;
};
}  // namespace

TEST(CApi, HostCallbackExceptionsReachAClassHostAsThrownAndEndAtTheExportsWithOneOutcome) {
    ResetServer();
    AddRoute({{"path", LiveConfigPath()}, {"status", 200}, {"body", SessionConfig().dump()}});
    ScopedEnv gate("streaming_yn", "y");
    ScopedEnv env("ENV");
    const auto caught = [](auto&& call) {
        try {
            call();
        } catch (const HostFault& fault) {
            return fault.code;
        }
        return 0;
    };
    // The class interface: the host's own exception, and no outcome in its place.
    int outcomes = 0;
    PlatformInterface p;
    p.CreateStreamer = [](const char*, const char*) { throw HostFault{1}; };
    auto logic = MakeLogic(p);
    EXPECT_EQ(1, caught([&] { logic->Initialize([&](bool) { ++outcomes; }); }));
    p.CreateStreamer = nullptr;
    p.OnApplyRTCConfig = [](const std::vector<PlatformInterface::IceServer>&) { throw HostFault{2}; };
    logic = MakeLogic(p);
    logic->Initialize([&](bool) { ++outcomes; });
    EXPECT_EQ(2, caught([&] { logic->HandlePlayerConnected("p", true, [&](bool, int, const char*) { ++outcomes; }); }));
    EXPECT_EQ(1, outcomes);

    // The exports: an error line naming the operation, and the call's outcome once.
    g_calls.clear();
    LogWindow log;
    TesselSDKHandle* h = TesselSDK_Create("1", 1);
    TesselSDK_SetCreateStreamer(h, [](const char*, const char*) { throw std::runtime_error("no streamer"); });
    TesselSDK_Initialize(h, &OnInit);
    TesselSDK_SetCreateStreamer(h, nullptr);
    TesselSDK_SetOnApplyRTCConfig(h, [](const char*) { throw HostFault{3}; });
    TesselSDK_Initialize(h, &OnInit);
    TesselSDK_HandlePlayerConnected(h, "p", 1, &Done);
    TesselSDK_Destroy(h);
    EXPECT_EQ((std::vector<std::string>{"init:0", "init:1", "done:0Host callback threw"}), g_calls);
    EXPECT_TRUE(log.WaitFor("[ERROR] [TesselSDK::Initialize] Host callback threw: no streamer"));
    EXPECT_TRUE(log.WaitFor("[ERROR] [TesselSDK::HandlePlayerConnected] Host callback threw: an exception of unknown"));
}

namespace {
// What the completions of one call delivered, and "!" when the host's own exception reached a class host.
std::string g_outcomes;
bool g_hostThrows = false;  // CreateStreamer and OnApplyRTCConfig
bool g_completionThrows = false;
void Outcome(const std::string& outcome) {
    g_outcomes += outcome;
    if (g_completionThrows) throw HostFault{4};
}
void InitOutcome(bool ok) { Outcome(ok ? "1" : "0"); }
void PlayerOutcome(bool ok, int status, const char* message) {
    Outcome(std::to_string(ok) + " " + std::to_string(status) + " " + message + ";");
}
void HostStreamer(const char*, const char*) {
    if (g_hostThrows) throw HostFault{5};
}
// The outcomes of `call` on a class host.
template <typename Call> std::string ClassOutcomes(Call&& call) {
    g_outcomes.clear();
    try {
        call();
    } catch (const HostFault&) {
        g_outcomes += "!";
    }
    return g_outcomes;
}
}  // namespace

// Each path of the initialisation, early returns included, reports once through either interface.
TEST(CApi, EveryInitialisationPathReportsOnceThroughEitherInterface) {
    const std::string full = SessionConfig().dump();
    const struct { const char* gate; const char* env; int status; std::string body; bool hostThrows, completionThrows;
                   const char* viaC; const char* viaClass; } paths[] = {
        {nullptr, "", 200, full, false, false, "0", "0"},       {"n", "", 200, full, false, false, "0", "0"},
        {"y", "prod", 200, full, false, false, "0", "0"},
        {"y", "", 503, full, false, false, "0", "0"},           {"y", "", 200, "not json", false, false, "0", "0"},
        {"y", "live", 200, full, false, false, "1", "1"},
        {"y", "", 200, full, true, false, "0", "!"},  // the class host gets the exception in place of its outcome
        {"y", "", 200, full, false, true, "1", "1!"},           {"n", "", 200, full, false, true, "0", "0!"},
        {"y", "", 404, full, false, true, "0", "0!"},           {"y", "", 200, "{}", false, true, "0", "0!"},
    };
    for (const auto& p : paths) {
        ResetServer();
        AddRoute({{"path", LiveConfigPath()}, {"status", p.status}, {"body", p.body}});
        std::optional<ScopedEnv> gate;
        p.gate ? gate.emplace("streaming_yn", p.gate) : gate.emplace("streaming_yn");
        ScopedEnv environment("ENV", p.env);
        std::tie(g_hostThrows, g_completionThrows) = std::make_tuple(p.hostThrows, p.completionThrows);
        g_outcomes.clear();
        TesselSDKHandle* h = TesselSDK_Create("1", 1);
        TesselSDK_SetCreateStreamer(h, &HostStreamer);
        TesselSDK_Initialize(h, &InitOutcome);
        TesselSDK_Destroy(h);
        const std::string viaC = g_outcomes;
        PlatformInterface pi;
        pi.CreateStreamer = &HostStreamer;
        const auto logic = MakeLogic(pi);
        EXPECT_EQ(std::string(p.viaC) + " " + p.viaClass,
                  viaC + " " + ClassOutcomes([&] { logic->Initialize(&InitOutcome); }))
            << (p.gate ? p.gate : "(unset)") << " " << p.env << " " << p.status << " " << p.body.substr(0, 8);
    }
    std::tie(g_hostThrows, g_completionThrows) = std::make_tuple(false, false);
}

// Each path of a player connection reports once through either interface, never also to OnConnectionReady.
TEST(CApi, EveryPlayerConnectionPathReportsOnceThroughEitherInterface) {
    ScopedEnv gate("streaming_yn", "y");
    ScopedEnv env("ENV");
    const std::string ready = "1 200 Connection ready;", failed = " TURN fetch failed;";
    const struct { const char* turn; int status; const char* player; bool shutDown, hostThrows, completionThrows;
                   std::string viaC, viaClass; } paths[] = {
        {nullptr, 200, "p", false, false, false, "0 0 TURN API URL missing;", "0 0 TURN API URL missing;"},
        {"http://127.0.0.1:1", 200, "p", false, false, false, "0 0" + failed, "0 0" + failed},
        {"/turn", 404, "p", false, false, false, "0 404" + failed, "0 404" + failed},
        {"/turn", 200, nullptr, false, false, false, ready, ready},
        {"/turn", 200, "", true, false, false, ready, ready},  // after Shutdown the completion still reports
        {"/turn", 200, "p", false, true, false, "0 0 Host callback threw;", "!"},
        {"/turn", 200, "p", false, false, true, ready, ready + "!"},
        {nullptr, 200, "p", false, false, true, "0 0 TURN API URL missing;", "0 0 TURN API URL missing;!"},
        {"/turn", 503, "p", false, false, true, "0 503" + failed, "0 503" + failed + "!"},
    };
    for (const auto& p : paths) {
        ResetServer();
        auto config = SessionConfig();
        if (p.turn) config["virivizar_turn"]["api"]["kr"] = p.turn[0] == '/' ? ServerUrl() + p.turn : p.turn;
        else config.erase("virivizar_turn");
        AddRoute({{"path", LiveConfigPath()}, {"status", 200}, {"body", config.dump()}});
        AddRoute({{"prefix", "/turn/"}, {"status", p.status}, {"body", "<html>no ICE servers</html>"}});
        g_hostThrows = false;
        TesselSDKHandle* h = TesselSDK_Create("1", 1);
        TesselSDK_SetOnConnectionReady(h, [](const char*, bool, int, const char*) { g_outcomes += "ready;"; });
        TesselSDK_SetOnApplyRTCConfig(h, [](const char*) {
            if (g_hostThrows) throw HostFault{6};
        });
        TesselSDK_Initialize(h, nullptr);
        PlatformInterface pi;
        pi.OnConnectionReady = [](const char*, bool, int, const char*) { g_outcomes += "ready;"; };
        pi.OnApplyRTCConfig = [](const std::vector<PlatformInterface::IceServer>&) {
            if (g_hostThrows) throw HostFault{6};
        };
        const auto logic = MakeLogic(pi);
        ASSERT_TRUE(InitializeWith(logic.get(), config));
        if (p.shutDown) {
            TesselSDK_Shutdown(h);
            logic->Shutdown();
        }
        std::tie(g_hostThrows, g_completionThrows) = std::make_tuple(p.hostThrows, p.completionThrows);
        g_outcomes.clear();
        TesselSDK_HandlePlayerConnected(h, p.player, 1, &PlayerOutcome);
        TesselSDK_Destroy(h);
        const std::string viaC = g_outcomes;
        EXPECT_EQ(p.viaC + " " + p.viaClass,
                  viaC + " " + ClassOutcomes([&] { logic->HandlePlayerConnected(p.player, true, &PlayerOutcome); }))
            << (p.turn ? p.turn : "(none)") << " " << p.status;
        g_completionThrows = false;
    }
}

TEST(CApi, CallbacksAreLookedUpWhenTheyRunAndIceServersArriveAsJson) {
    g_calls.clear();
    TesselSDKHandle* h = TesselSDK_Create("1.0", 1);
    PlatformInterface pi = TesselSDK::BuildPlatformInterface(h);
    EXPECT_FALSE(pi.ReservedCallback0 || pi.ReservedCallback1 || pi.GetSentryContext);
    pi.StartStreaming();  // nothing stored yet
    pi.OnApplyRTCConfig({});
    TesselSDK_SetStartStreaming(h, [] { Record("start"); });
    pi.StartStreaming();
    TesselSDK_SetStartStreaming(h, nullptr);
    pi.StartStreaming();
    TesselSDK_SetBitrateCallback(h, [](int a, int b, int c) { Record(std::to_string(a + 10 * b + 100 * c)); });
    TesselSDK_SetInitSentry(h, [](const char* a, const char* b, const char* c) { Record(a + (b + std::string(c))); });
    TesselSDK_SetCreateStreamer(h, [](const char* id, const char* url) { Record(id + std::string(url)); });
    TesselSDK_SetOnConnectionReady(
        h, [](const char* id, bool ok, int s, const char* m) { Record(id + std::to_string(ok + 10 * s) + m); });
    TesselSDK_SetOnApplyRTCConfig(h, [](const char* json) { Record(json); });
    pi.BitrateCallback(1, 2, 3);
    pi.InitSentry("dsn", "qa", "rel");
    pi.CreateStreamer("id", "wss://x");
    pi.OnConnectionReady("pl", true, 200, "ready");
    pi.OnApplyRTCConfig({});
    const std::string nasty = "a\"b\\c/d\n\t\x01ü";
    pi.OnApplyRTCConfig({{{"stun:a", "turn:b?transport=udp"}, "u", "c"}, {{nasty}, nasty, nasty}});
    ASSERT_EQ(7u, g_calls.size());
    EXPECT_EQ((std::vector<std::string>{"start", "321", "dsnqarel", "idwss://x", "pl2001ready", "[]"}),
              std::vector<std::string>(g_calls.begin(), g_calls.end() - 1));
    const std::string& json = g_calls.back();
    EXPECT_EQ(0u, json.rfind(R"([{"urls":["stun:a","turn:b?transport=udp"],"username":"u","credential":"c"},{)", 0));
    const auto ice = nlohmann::json::parse(json);
    EXPECT_TRUE(ice[1]["urls"][0] == nasty && ice[1]["username"] == nasty && ice[1]["credential"] == nasty) << json;
    TesselSDK_Destroy(h);
}

TEST(Shutdown, StopsHostCallbacksAndTheSharedLoggerButNotTheObject) {
    ResetServer();
    std::atomic<int> calls{0};
    const auto count = [&](auto&&...) { ++calls; };  // every host callback but the reporter context
    const PlatformInterface p{{}, {}, count, count, count, count, count, count, {}};
    ScopedEnv member("member_no", "M123");
    auto logic = MakeLogic(p);  // geType 3
    // Before initialisation no profile is found and the outputs stay as they were.
    TesselSDK::EncoderSettings enc;
    enc.MinQP = -1;
    int a = 5, b = 6, c = 7;
    EXPECT_FALSE(logic->GetEncoderConfig("AUTO", &enc));
    EXPECT_FALSE(logic->GetBitrateConfig("AUTO", &a, &b, &c));
    EXPECT_TRUE(enc.MinQP == -1 && a == 5 && b == 6 && c == 7);
    const std::string id = StreamerIdOf(logic.get());
    const long long ms = std::stoll(id.substr(7));
    EXPECT_EQ("M123-3-" + std::to_string(ms), id);
    EXPECT_NEAR(TesselSDK::NowEpochMs(), ms, 60000) << "the construction time in ms";
    EXPECT_EQ(0u, StreamerIdOf(LogicPtr(TesselSDK::LinkLogic::Create("1", -2, {})).get()).rfind("M123--2-", 0));
    EXPECT_TRUE(Requests("/").empty()) << "nothing is sent by creating and destroying";
    ASSERT_TRUE(InitializeWith(logic.get(), SessionConfig()));
    logic->HandlePlayerConnected("p", true, nullptr);
    ASSERT_GT(calls.load(), 0);

    // Destroy without Shutdown sends what is queued and leaves the shared logger running.
    auto other = MakeLogic();
    for (int i = 0; i < 3; ++i) other->SendTallo("queued", "", "", "");
    other.reset();
    EXPECT_EQ(3u, Requests("/telemetry/std_halyx").size());
    EXPECT_TRUE(TesselSDK::Logger::Instance().IsRunning());

    LogWindow log;
    logic->Shutdown();
    EXPECT_FALSE(TesselSDK::Logger::Instance().IsRunning());
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_NE(std::string::npos, log.Lines().back().find("[DEBUG] [TesselSDK::Shutdown] Final StreamerId: " + id));
    logic->Shutdown();  // repeats harmlessly
    const int callsBefore = calls.load();
    logic->HandlePlayerConnected("p", true, nullptr);
    EXPECT_TRUE(InitializeWith(logic.get(), SessionConfig()));
    int done = 0;
    logic->HandlePlayerConnected("p", true, [&](bool ok, int status, const char*) { done += ok && status == 200; });
    EXPECT_EQ(callsBefore, calls.load()) << "no host callback after Shutdown";
    EXPECT_EQ(1, done) << "but the call's own completion";
    EXPECT_EQ(3u, Requests("/turn/").size()) << "the configuration survives Shutdown";
    logic->PushWebRTCStatsReport(nullptr, nullptr);
    logic->SendTallo("gone", "", "", "");
    logic.reset();
    EXPECT_EQ(3u, Requests("/telemetry/std_halyx").size()) << "a stopped object sends no telemetry";
}

// Load late, drive through the exports, unload, twice, in a child process that a
// crash in code of the unloaded library (a writer thread still running) ends early.
TEST(SlowUnload, AfterDestroyWithAndWithoutShutdownAndLoadedAgain) {
    ScopedEnv env("ENV", "UNLOAD");
    ScopedEnv game("game_id", "unload-test");
    const char* markers[] = {"unload marker with shutdown", "unload marker without shutdown"};
    const auto loadDriveUnloadTwice = [&] {
        for (const char* marker : markers) {
            Library lib = Open();
            if (!lib) std::_Exit(3);
            TesselSDKHandle* h = EXPORT(TesselSDK_Create)("1.0.0", 1);
            EXPORT(TesselSDK_InitLogger)();
            EXPORT(TesselSDK_Log)(nullptr, TESSELSDK_LOG_INFO, marker);
            EXPORT(TesselSDK_Initialize)(h, [](bool) {});
            if (marker == markers[0]) EXPORT(TesselSDK_Shutdown)(h);
            EXPORT(TesselSDK_Destroy)(h);
            lib.reset();
            std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // a running writer wakes twice
        }
        std::fprintf(stderr, "unloaded and still running\n");
        std::exit(0);  // static destructors and exit handlers run with whatever still runs
    };
    const auto folder = std::filesystem::path(DataFolder()) / "VIVIDOVURUZ3UNLOAD" / "logs" / "unload-test";
    std::filesystem::remove_all(folder);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(loadDriveUnloadTwice(), ::testing::ExitedWithCode(0), "unloaded and still running");
    std::string logs;
    for (const auto& file : std::filesystem::directory_iterator(folder)) logs += ReadFile(file.path().string());
    for (const char* marker : markers) EXPECT_NE(std::string::npos, logs.find(marker)) << folder;
}
