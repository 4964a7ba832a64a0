// Player connection: the TURN request, its outcome and the ICE-server list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/turn.h"
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

    PlatformInterface Platform() {
        PlatformInterface p;
        p.OnApplyRTCConfig = [this](const Servers& s) {
            servers = s;
            events.push_back("apply " + std::to_string(s.size()));
        };
        p.OnConnectionReady = [this](const char* player, bool ok, int status, const char* message) {
            events.push_back("ready " + std::string(player) + (ok ? " 1 " : " 0 ") + std::to_string(status) + " " +
                             message);
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

// Each server as "url,url|username|credential", joined by ";".
std::string Summary(const Servers& servers) {
    std::string out;
    for (const auto& s : servers) {
        std::string urls;
        for (const auto& u : s.urls) urls += (urls.empty() ? "" : ",") + u;
        out += (out.empty() ? "" : ";") + urls + "|" + s.username + "|" + s.credential;
    }
    return out;
}

}  // namespace

TEST(TurnUrl, SchemeIsAddedUnlessTheBaseStartsWithHttp) {
    EXPECT_EQ("https://t/v1.0/turn-api/turn-ip?streamer_id=7-3-1", TesselSDK::BuildTurnApiUrl("t", "7-3-1"));
    EXPECT_EQ("http://t/v1.0/turn-api/turn-ip?streamer_id=s", TesselSDK::BuildTurnApiUrl("http://t", "s"));
    EXPECT_EQ("httpx/v1.0/turn-api/turn-ip?streamer_id=s", TesselSDK::BuildTurnApiUrl("httpx", "s"));
    EXPECT_EQ("https://HTTPS://t/v1.0/turn-api/turn-ip?streamer_id=s", TesselSDK::BuildTurnApiUrl("HTTPS://t", "s"));
}

TEST(TurnRequest, OneTrailingSlashRemovedAndHeadersWithAndWithoutToken) {
    ResetServer();
    HostRecord host;
    auto logic = MakeLogic(host.Platform());
    ASSERT_TRUE(InitializeWith(logic.get(), ConfigWithTurn(ServerUrl() + "/turn/")));
    LogWindow log;
    {
        ScopedEnv token("OMBREL_ACCESS_TOKEN", "tok-1");
        logic->HandlePlayerConnected("p1", false, host.Done());
    }
    ASSERT_TRUE(InitializeWith(logic.get(), ConfigWithTurn(ServerUrl() + "/turn//")));
    {
        ScopedEnv token("OMBREL_ACCESS_TOKEN");
        logic->HandlePlayerConnected("p2", false, host.Done());
    }
    const auto requests = Requests("/turn");
    ASSERT_EQ(2u, requests.size());
    const std::string query = "/v1.0/turn-api/turn-ip?streamer_id=" + StreamerIdOf(logic.get());
    EXPECT_EQ("/turn" + query, requests[0].path);
    EXPECT_EQ("/turn/" + query, requests[1].path);
    EXPECT_EQ("GET", requests[0].method);
    EXPECT_EQ("Bearer tok-1", requests[0].Header("Authorization"));
    EXPECT_EQ(0, requests[1].HeaderCount("Authorization"));
    for (const auto& r : requests) EXPECT_EQ("HALYXTESSELSDK-UNREAL-1.0", r.Header("caller-id"));
    EXPECT_TRUE(log.WaitFor("[WARN] [TesselSDK::HandlePlayerConnected] Access Token is empty!"));
    EXPECT_EQ(0u, log.Count("tok-1")) << "the token is never logged";
}

TEST(TurnOutcome, EveryOutcomeReachesTheCompletionOrConnectionReady) {
    ResetServer();
    HostRecord host;
    auto logic = MakeLogic(host.Platform());
    LogWindow log;
    // No TURN base yet: the completion only, never OnConnectionReady.
    logic->HandlePlayerConnected("p0", true, host.Done());
    logic->HandlePlayerConnected("p0", true, nullptr);
    EXPECT_TRUE(Requests("/turn").empty());

    ASSERT_TRUE(InitializeWith(logic.get(), SessionConfig()));
    AddRoute({{"prefix", "/turn/"}, {"status", 404}, {"body", "no such streamer"}, {"times", 2}});
    logic->HandlePlayerConnected("p1", true, host.Done());
    logic->HandlePlayerConnected(nullptr, true, nullptr);  // a null player id is taken as empty
    AddRoute({{"prefix", "/turn/"}, {"status", 200}, {"body", kTurnAnswer}, {"times", 2}});
    logic->HandlePlayerConnected("p2", true, host.Done());
    logic->HandlePlayerConnected("p3", false, nullptr);
    EXPECT_EQ("stun:a:3478||;turn:b?transport=udp,turn:b?transport=tcp|u1|s3cr\"et", Summary(host.servers));
    AddRoute({{"prefix", "/turn/"}, {"status", 200}, {"body", "<html>ok</html>"}});
    logic->HandlePlayerConnected("p4", true, host.Done());
    ASSERT_TRUE(InitializeWith(logic.get(), ConfigWithTurn("http://127.0.0.1:1/turn")));  // refused
    logic->HandlePlayerConnected("p5", true, host.Done());

    EXPECT_EQ((std::vector<std::string>{"done 0 0 TURN API URL missing", "done 0 404 TURN fetch failed",
                                        "ready  0 404 TURN fetch failed", "apply 2", "done 1 200 Connection ready",
                                        "apply 2", "ready p3 1 200 Connection ready", "apply 0",
                                        "done 1 200 Connection ready", "done 0 0 TURN fetch failed"}),
              host.events);

    EXPECT_TRUE(log.WaitFor("TURN fetch failed with HTTP code: 0, Response: Failed to"));
    EXPECT_EQ(2u, log.Count("[ERROR] [TesselSDK::HandlePlayerConnected] TURN API URL not available - cannot fetch "
                            "ICE servers"));
    EXPECT_EQ(2u, log.Count("[ERROR] [TesselSDK::HandlePlayerConnected] TURN fetch failed with HTTP code: 404, "
                            "Response: no such streamer"));
    // The answer is logged with its size, but without the credentials.
    const std::string size = std::to_string(std::string(kTurnAnswer).size());
    EXPECT_EQ(2u, log.Count("[DEBUG] [TesselSDK::HandlePlayerConnected] TURN Response (" + size + " bytes): "));
    EXPECT_EQ(2u, log.Count("[DEBUG] [TesselSDK::HandlePlayerConnected] Parsed 2 ICE servers"));
    EXPECT_EQ(1u, log.Count("[DEBUG] [TesselSDK::HandlePlayerConnected] Parsed 0 ICE servers"));
    EXPECT_EQ(1u, log.Count("[WARN] [TesselSDK::HandlePlayerConnected] TURN response is not JSON - ICE servers "
                            "could not be read"));
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
    raw->HandlePlayerConnected("p1", true, nullptr);
    EXPECT_EQ(1, applied);
    EXPECT_EQ(0, ready) << "no host callback runs after Shutdown";

    bool done = false;
    raw->HandlePlayerConnected("p1", true, [&](bool ok, int, const char*) {
        done = ok;
        TesselSDK::LinkLogic::Destroy(raw);
    });
    EXPECT_TRUE(done);
}

TEST(IceParse, ServersReadUntilTheFirstFault) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"value":{"ice_servers":[{"urls":"stun:x"},{"urls":["a","b"],"username":"u","credential":"c"},)"
         R"({"urls":7,"username":"n"},"text",3,{"other":1}]}})",
         "stun:x||;a,b|u|c;|n|;||;||;||"},
        {R"({"value":{"ice_servers":[{"urls":"a"},{"urls":"b","username":null},{"urls":"c"}]}})", "a||"},
        {R"({"value":{"ice_servers":[{"urls":"a"},{"urls":["b",5]},{"urls":"c"}]}})", "a||"},
        {R"({"value":{"ice_servers":[{"credential":false}]}})", ""},
        {"", ""}, {"not json", ""}, {"[]", ""}, {R"({"value":[]})", ""}, {R"({"value":{"ice_servers":{}}})", ""},
        {R"({"ice_servers":[{"urls":"a"}]})", ""},
        {R"({"value":{"ice_servers":[{"urls":"a"}]}} trailing)", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.second, Summary(TesselSDK::ParseIceServers(c.first))) << c.first;
}

TEST(TurnLogMask, EveryCredentialValueIsMasked) {
    EXPECT_EQ(R"({"credential":"***","x":1,"credential" : "***"})",
              TesselSDK::MaskTurnCredentials(R"({"credential":"a\"b\\","x":1,"credential" : "zz"})"));
    EXPECT_EQ(R"([{"credential":"***"},{"credential":"***" }])",
              TesselSDK::MaskTurnCredentials(R"([{"credential":null},{"credential":12 }])"));
    EXPECT_EQ(R"({"credential":"***")", TesselSDK::MaskTurnCredentials(R"({"credential":"unterminated)"));
    EXPECT_EQ("no secrets \"credential\" here", TesselSDK::MaskTurnCredentials("no secrets \"credential\" here"));
}
