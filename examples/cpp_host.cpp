// Example host of the C++ class interface: the same session as the C host,
// plus streaming start and end, so that quality records flow: START_STREAMING
// once the start delay has passed with codec and ICE facts known, batches of
// DURING_STREAMING samples, and END_STREAMING at the end.
//
// Environment: TESSELSDK_DEMO_STATS names a file of statistics reports, one
// JSON report per line; TESSELSDK_DEMO_REPORTS how many to push (default 20).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tesselsdk/link_logic.h"

namespace {

const auto g_start = std::chrono::steady_clock::now();

void Say(const std::string& text) {
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - g_start).count();
    std::printf("[cpp_host %7.3f] %s\n", secs, text.c_str());
    std::fflush(stdout);
}

std::string Text(const char* s) { return s ? s : "(null)"; }

TesselSDK::PlatformInterface MakePlatform() {
    TesselSDK::PlatformInterface p;
    p.InitSentry = [](const char* dsn, const char* env, const char* release) {
        Say("callback InitSentry(dsn=" + Text(dsn) + ", environment=" + Text(env) + ", release=" + Text(release) + ")");
    };
    p.CreateStreamer = [](const char* streamerId, const char* url) {
        Say("callback CreateStreamer(streamerId=" + Text(streamerId) + ", signallingUrl=" + Text(url) + ")");
    };
    p.StartStreaming = [] { Say("callback StartStreaming()"); };
    p.BitrateCallback = [](int minBitrate, int maxBitrate, int fps) {
        Say("callback BitrateCallback(min=" + std::to_string(minBitrate) + ", max=" + std::to_string(maxBitrate) +
            ", fps=" + std::to_string(fps) + ")");
    };
    p.OnConnectionReady = [](const char* playerId, bool ok, int status, const char* message) {
        Say("callback OnConnectionReady(" + Text(playerId) + ", ok=" + (ok ? "true" : "false") +
            ", status=" + std::to_string(status) + ", " + Text(message) + ")");
    };
    p.OnApplyRTCConfig = [](const std::vector<TesselSDK::PlatformInterface::IceServer>& servers) {
        Say("callback OnApplyRTCConfig(" + std::to_string(servers.size()) + " servers)");
        for (const auto& s : servers) {
            std::string urls;
            for (const auto& u : s.urls) urls += (urls.empty() ? "" : " ") + u;
            Say("    " + urls + " user=" + s.username + " credential=" + std::string(s.credential.size(), '*'));
        }
    };
    p.GetSentryContext = [] {
        Say("callback GetSentryContext()");
        TesselSDK::SentryContext c;
        c.device = "DemoRig";
        c.runtimeVersion = "5.6.0";
        c.isMainThread = true;
        c.osVersion = "DemoOS 1.0";
        c.userId = "demo-member";
        return c;
    };
    return p;
}

}  // namespace

int main() {
    const char* statsPath = std::getenv("TESSELSDK_DEMO_STATS");
    const char* countText = std::getenv("TESSELSDK_DEMO_REPORTS");
    int reports = countText ? std::atoi(countText) : 20;

    TesselSDK::LinkLogic* logic = TesselSDK::LinkLogic::Create("5.6.0-demo", 1, MakePlatform());
    Say("created the LinkLogic object");

    logic->Initialize([](bool ok) { Say(std::string("outcome Initialize: ") + (ok ? "ok" : "FAILED")); });

    TesselSDK::EncoderSettings encoder;
    if (logic->GetEncoderConfig("AUTO", &encoder)) {
        Say("GetEncoderConfig(AUTO): QP " + std::to_string(encoder.MinQP) + "-" + std::to_string(encoder.MaxQP) + ", " +
            encoder.H264Profile + ", " + encoder.RateControl + ", " + encoder.EncoderPreset);
    }

    logic->HandlePlayerConnected("player-1", true, [](bool ok, int status, const char* message) {
        Say(std::string("outcome HandlePlayerConnected: ok=") + (ok ? "true" : "false") +
            " status=" + std::to_string(status) + " message=" + Text(message));
    });

    logic->HandleStreamingStarted("player-1", "wifi");
    Say("streaming started for player-1");

    if (statsPath && *statsPath) {
        std::ifstream in(statsPath, std::ios::binary);
        std::string line;
        for (int i = 0; i < reports && std::getline(in, line); ++i) {
            logic->PushWebRTCStatsReport("player-1", line.c_str());
            Say("pushed statistics report " + std::to_string(i + 1) + " (" + std::to_string(line.size()) + " bytes)");
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    }

    logic->HandleStreamingEnded("player-1", nullptr);
    Say("streaming ended for player-1");

    logic->SendTallo("linkplay.heartbeat", "20.0", "alive", "wifi");
    logic->SendMobileNotify("demo-integration-key", "{\"title\":\"Stream ready\"}", "ko");
    Say("GetEventApiUrl: " + logic->GetEventApiUrl());
    Say("GetWindowsEventsApiUrl: " + logic->GetWindowsEventsApiUrl());

    logic->Shutdown();
    Say("shut down");
    TesselSDK::LinkLogic::Destroy(logic);
    Say("destroyed");
    return 0;
}
