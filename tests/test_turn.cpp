#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdk_session.h"

using namespace testsupport;
using TesselSDK::PlatformInterface;
using Servers = std::vector<PlatformInterface::IceServer>;

namespace {

const char kTurnAnswer[] =
    R"({"value":{"ice_servers":[{"urls":"stun:a:3478","username":"","credential":""},)"
    R"({"urls":["turn:b?transport=udp","turn:b?transport=tcp"],"username":"u1","credential":"s3cr\"et"}]}})";

// What the host saw, in order.
struct HostRecord {
    std::vector<std::string> events;
    Servers servers;
    std::string readyPlayer;

    PlatformInterface Platform() {
        PlatformInterface p;
        p.OnApplyRTCConfig = [this](const Servers& s) {
            servers = s;
            events.push_back("apply " + std::to_string(s.size()));
        };
        p.OnConnectionReady = [this](const char* player, bool ok, int status, const char* message) {
            readyPlayer = player;
            events.push_back(std::string("ready ") + (ok ? "1 " : "0 ") + std::to_string(status) + " " + message);
        };
        return p;
    }
    std::function<void(bool, int, const char*)> Done() {
        return [this](bool ok, int status, const char* message) {
            events.push_back(std::string("done ") + (ok ? "1 " : "0 ") + std::to_string(status) + " " + message);
        };
    }
};

nlohmann::json ConfigWithTurn(const std::string& base) {
    nlohmann::json doc = SessionConfig();
    doc["virivizar_turn"]["api"]["kr"] = base;
    return doc;
}

std::string TurnTarget(const std::string& prefix, TesselSDK::LinkLogic* logic) {
    return prefix + "/v1.0/turn-api/turn-ip?streamer_id=" + StreamerIdOf(logic);
}

}  // namespace

TEST(TurnUrl, SchemeIsAddedUnlessTheBaseStartsWithHttp) {
    EXPECT_EQ("https://turn.example/v1.0/turn-api/turn-ip?streamer_id=7-3-1",
              TesselSDK::BuildTurnApiUrl("turn.example", "7-3-1"));
    EXPECT_EQ("http://t/v1.0/turn-api/turn-ip?streamer_id=s", TesselSDK::BuildTurnApiUrl("http://t", "s"));
    EXPECT_EQ("httpx/v1.0/turn-api/turn-ip?streamer_id=s", TesselSDK::BuildTurnApiUrl("httpx", "s"));
    EXPECT_EQ("https://HTTPS://t/v1.0/turn-api/turn-ip?streamer_id=s", TesselSDK::BuildTurnApiUrl("HTTPS://t", "s"));
    EXPECT_EQ("https:///v1.0/turn-api/turn-ip?streamer_id=a b", TesselSDK::BuildTurnApiUrl("", "a b"));
}

TEST(TurnUrl, OneTrailingSlashOfTheConfiguredBaseIsRemoved) {
    ResetServer();
    ScopedEnv token("OMBREL_ACCESS_TOKEN", "tok");
    HostRecord host;
    auto logic = MakeLogic(host.Platform());
    ASSERT_TRUE(InitializeWith(logic.get(), ConfigWithTurn(ServerUrl() + "/turn/")));
    logic->HandlePlayerConnected("p1", true, host.Done());
    ASSERT_TRUE(InitializeWith(logic.get(), ConfigWithTurn(ServerUrl() + "/turn//")));
    logic->HandlePlayerConnected("p1", true, host.Done());
    const auto requests = Requests("/turn");
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(TurnTarget("/turn", logic.get()), requests[0].path);
    EXPECT_EQ(TurnTarget("/turn/", logic.get()), requests[1].path);
}

TEST(TurnRequest, HeadersWithAndWithoutToken) {
    ResetServer();
    HostRecord host;
    auto logic = MakeLogic(host.Platform());
    ASSERT_TRUE(InitializeWith(logic.get(), SessionConfig()));
    LogWindow log;
    {
        ScopedEnv token("OMBREL_ACCESS_TOKEN", "tok-1");
        logic->HandlePlayerConnected("p1", false, host.Done());
    }
    {
        ScopedEnv token("OMBREL_ACCESS_TOKEN");
        logic->HandlePlayerConnected("p2", false, host.Done());
    }
    const auto requests = Requests("/turn");
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("GET", requests[0].method);
    EXPECT_EQ("Bearer tok-1", requests[0].Header("Authorization"));
    EXPECT_EQ("HALYXTESSELSDK-UNREAL-1.0", requests[0].Header("caller-id"));
    EXPECT_EQ(0, requests[1].HeaderCount("Authorization"));
    EXPECT_EQ("HALYXTESSELSDK-UNREAL-1.0", requests[1].Header("caller-id"));
    EXPECT_TRUE(log.WaitFor("[WARN] [TesselSDK::HandlePlayerConnected] Access Token is empty!"));
    EXPECT_EQ(0u, log.Count("tok-1")) << "the token is never logged";
}

TEST(TurnOutcome, MissingTurnUrlGoesToTheCompletionOnly) {
    ResetServer();
    HostRecord host;
    auto logic = MakeLogic(host.Platform());  // no configuration stored
    LogWindow log;
    logic->HandlePlayerConnected("p1", true, host.Done());
    logic->HandlePlayerConnected("p1", true, nullptr);
    EXPECT_EQ((std::vector<std::string>{"done 0 0 TURN API URL missing"}), host.events);
    EXPECT_TRUE(Requests("/turn").empty());
    EXPECT_TRUE(log.WaitFor(
        "[ERROR] [TesselSDK::HandlePlayerConnected] TURN API URL not available - cannot fetch ICE servers", 2));
}

TEST(TurnOutcome, FailedFetchReachesCompletionOrConnectionReady) {
    ResetServer();
    HostRecord host;
    auto logic = MakeLogic(host.Platform());
    ASSERT_TRUE(InitializeWith(logic.get(), SessionConfig()));
    AddRoute({{"prefix", "/turn/"}, {"status", 404}, {"body", "no such streamer"}});
    LogWindow log;
    logic->HandlePlayerConnected("p1", true, host.Done());
    logic->HandlePlayerConnected("p2", true, nullptr);
    logic->HandlePlayerConnected(nullptr, true, nullptr);
    ASSERT_TRUE(InitializeWith(logic.get(), ConfigWithTurn("http://127.0.0.1:1/turn")));  // refused
    logic->HandlePlayerConnected("p3", true, host.Done());
    EXPECT_EQ((std::vector<std::string>{"done 0 404 TURN fetch failed", "ready 0 404 TURN fetch failed",
                                        "ready 0 404 TURN fetch failed", "done 0 0 TURN fetch failed"}),
              host.events);
    EXPECT_EQ("", host.readyPlayer) << "a null player id is taken as empty";
    EXPECT_TRUE(log.WaitFor("TURN fetch failed with HTTP code: 0, Response: Failed to"));
    EXPECT_EQ(3u, log.Count("[ERROR] [TesselSDK::HandlePlayerConnected] TURN fetch failed with HTTP code: 404, "
                            "Response: no such streamer"));
}

TEST(TurnOutcome, SuccessDeliversServersBeforeTheOutcome) {
    ResetServer();
    HostRecord host;
    auto logic = MakeLogic(host.Platform());
    ASSERT_TRUE(InitializeWith(logic.get(), SessionConfig()));
    AddRoute({{"prefix", "/turn/"}, {"status", 200}, {"body", kTurnAnswer}});
    LogWindow log;
    logic->HandlePlayerConnected("p1", true, host.Done());
    logic->HandlePlayerConnected("p2", false, nullptr);
    ASSERT_EQ(2u, host.servers.size());
    EXPECT_EQ((std::vector<std::string>{"turn:b?transport=udp", "turn:b?transport=tcp"}), host.servers[1].urls);
    EXPECT_EQ("s3cr\"et", host.servers[1].credential);
    AddRoute({{"prefix", "/turn/"}, {"status", 200}, {"body", "<html>ok</html>"}});
    logic->HandlePlayerConnected("p3", true, host.Done());
    EXPECT_EQ((std::vector<std::string>{"apply 2", "done 1 200 Connection ready", "apply 2",
                                        "ready 1 200 Connection ready", "apply 0", "done 1 200 Connection ready"}),
              host.events);
    EXPECT_EQ("p2", host.readyPlayer);

    // The answer is logged with its size, but without the credentials.
    const std::string size = std::to_string(std::string(kTurnAnswer).size());
    EXPECT_TRUE(log.WaitFor("[DEBUG] [TesselSDK::HandlePlayerConnected] Parsed 0 ICE servers"));
    EXPECT_EQ(2u, log.Count("[DEBUG] [TesselSDK::HandlePlayerConnected] TURN Response (" + size + " bytes): "));
    EXPECT_EQ(2u, log.Count("[DEBUG] [TesselSDK::HandlePlayerConnected] Parsed 2 ICE servers"));
    EXPECT_EQ(0u, log.Count("s3cr"));
    EXPECT_EQ(2u, log.Count(R"("username":"u1","credential":"***")"));
}

TEST(TurnOutcome, HostMayShutDownOrDestroyInsideItsCallbacks) {
    ResetServer();
    AddRoute({{"prefix", "/turn/"}, {"status", 200}, {"body", kTurnAnswer}});
    int applied = 0;
    int ready = 0;
    TesselSDK::LinkLogic* raw = nullptr;
    PlatformInterface p;
    p.OnApplyRTCConfig = [&](const Servers&) {
        ++applied;
        raw->Shutdown();  // destroys the stored callbacks while this one runs
    };
    p.OnConnectionReady = [&](const char*, bool, int, const char*) { ++ready; };
    raw = TesselSDK::LinkLogic::Create("1", 0, p);
    ASSERT_TRUE(InitializeWith(raw, SessionConfig()));
    raw->HandlePlayerConnected("p1", true, nullptr);
    EXPECT_EQ(1, applied);
    EXPECT_EQ(1, ready) << "the outcome was taken before the callbacks were emptied";
    raw->HandlePlayerConnected("p1", true, nullptr);
    EXPECT_EQ(1, applied);
    EXPECT_EQ(1, ready);

    bool done = false;
    raw->HandlePlayerConnected("p1", true, [&](bool ok, int, const char*) {
        done = ok;
        TesselSDK::LinkLogic::Destroy(raw);
    });
    EXPECT_TRUE(done);
}

TEST(IceParse, UrlsAsStringArrayOrOtherType) {
    const auto servers = TesselSDK::ParseIceServers(
        R"({"value":{"ice_servers":[{"urls":"stun:x"},{"urls":["a","b"],"username":"u","credential":"c"},)"
        R"({"urls":7,"username":"n"},"text",3,{"other":1}]}})");
    ASSERT_EQ(6u, servers.size());
    EXPECT_EQ(std::vector<std::string>{"stun:x"}, servers[0].urls);
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), servers[1].urls);
    EXPECT_EQ("u", servers[1].username);
    EXPECT_EQ("c", servers[1].credential);
    EXPECT_TRUE(servers[2].urls.empty());
    EXPECT_EQ("n", servers[2].username);
    for (size_t i = 3; i < 6; ++i) {
        EXPECT_TRUE(servers[i].urls.empty());
        EXPECT_EQ("", servers[i].username);
        EXPECT_EQ("", servers[i].credential);
    }
}

TEST(IceParse, FaultyElementEndsTheListKeepingEarlierServers) {
    auto servers = TesselSDK::ParseIceServers(
        R"({"value":{"ice_servers":[{"urls":"a"},{"urls":"b","username":null},{"urls":"c"}]}})");
    ASSERT_EQ(1u, servers.size());
    EXPECT_EQ(std::vector<std::string>{"a"}, servers[0].urls);
    servers = TesselSDK::ParseIceServers(R"({"value":{"ice_servers":[{"urls":"a"},{"urls":["b",5]},{"urls":"c"}]}})");
    EXPECT_EQ(1u, servers.size());
    servers = TesselSDK::ParseIceServers(R"({"value":{"ice_servers":[{"credential":false}]}})");
    EXPECT_TRUE(servers.empty());
}

TEST(IceParse, MissingStructureGivesAnEmptyList) {
    for (const char* body : {"", "not json", "[]", R"({"value":[]})", R"({"value":{}})",
                             R"({"value":{"ice_servers":{}}})", R"({"ice_servers":[{"urls":"a"}]})",
                             R"({"value":{"ice_servers":[{"urls":"a"}]}} trailing)"}) {
        EXPECT_TRUE(TesselSDK::ParseIceServers(body).empty()) << body;
    }
}

TEST(TurnLogMask, EveryCredentialValueIsMasked) {
    EXPECT_EQ(R"({"credential":"***","x":1,"credential" : "***"})",
              TesselSDK::MaskTurnCredentials(R"({"credential":"a\"b\\","x":1,"credential" : "zz"})"));
    EXPECT_EQ(R"([{"credential":"***"},{"credential":"***" }])",
              TesselSDK::MaskTurnCredentials(R"([{"credential":null},{"credential":12 }])"));
    EXPECT_EQ(R"({"credential":"***")", TesselSDK::MaskTurnCredentials(R"({"credential":"unterminated)"));
    EXPECT_EQ("no secrets \"credential\" here", TesselSDK::MaskTurnCredentials("no secrets \"credential\" here"));
}
