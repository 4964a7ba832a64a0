// A player connects: mark it for the metrics, fetch the TURN/ICE servers for
// this streamer and hand them and the outcome to the host.
#include <exception>
#include <string_view>
#include <utility>

#include <nlohmann/json.hpp>

#include "core/link_logic_impl.h"
#include "core/turn.h"
#include "log/logger.h"
#include "net/http_client.h"
#include "platform/account.h"
#include "util/json_parse.h"
#include "util/log_body.h"
#include "util/guarded.h"

namespace TesselSDK {
namespace {

constexpr const char* kCallerId = "HALYXTESSELSDK-UNREAL-1.0";
constexpr const char* kTurnPath = "/v1.0/turn-api/turn-ip?streamer_id=";
constexpr const char* kLogPrefix = "[TesselSDK::HandlePlayerConnected] ";

bool IsJsonBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Index just past the JSON value that starts at `pos`: a whole string for a
// string, otherwise up to the next ',', '}' or ']'.
std::size_t EndOfValue(const std::string& text, std::size_t pos) {
    if (pos < text.size() && text[pos] == '"') {
        std::size_t i = pos + 1;
        while (i < text.size() && text[i] != '"') i += (text[i] == '\\') ? 2 : 1;
        return i < text.size() ? i + 1 : text.size();
    }
    std::size_t i = pos;
    while (i < text.size() && text[i] != ',' && text[i] != '}' && text[i] != ']') ++i;
    while (i > pos && IsJsonBlank(text[i - 1])) --i;
    return i;
}

}  // namespace

std::string BuildTurnApiUrl(const std::string& base, const std::string& streamerId) {
    std::string url = base;
    if (!url.empty() && url.back() == '/') url.pop_back();
    if (url.compare(0, 4, "http") != 0) url = "https://" + url;
    return url + kTurnPath + streamerId;
}

std::vector<PlatformInterface::IceServer> ParseIceServers(const std::string& body, bool* isJson) {
    std::vector<PlatformInterface::IceServer> result;
    if (isJson != nullptr) *isJson = false;
    try {
        const nlohmann::ordered_json doc = ParseOutsideJson(body);
        if (isJson != nullptr) *isJson = true;
        if (!doc.is_object() || !doc.contains("value") || !doc["value"].is_object()) return result;
        const auto& value = doc["value"];
        if (!value.contains("ice_servers") || !value["ice_servers"].is_array()) return result;
        for (const auto& element : value["ice_servers"]) {
            PlatformInterface::IceServer server;
            if (element.is_object()) {
                if (element.contains("urls")) {
                    const auto& urls = element["urls"];
                    if (urls.is_array()) {
                        for (const auto& url : urls) server.urls.push_back(url.get<std::string>());
                    } else if (urls.is_string()) {
                        server.urls.push_back(urls.get<std::string>());
                    }
                }
                if (element.contains("username")) server.username = element["username"].get<std::string>();
                if (element.contains("credential")) server.credential = element["credential"].get<std::string>();
            }
            result.push_back(std::move(server));
        }
    } catch (const std::exception&) {
        // The servers read before the fault stand.
    }
    return result;
}

std::string MaskTurnCredentials(const std::string& body) {
    constexpr std::string_view key = "\"credential\"";
    std::string out;
    std::size_t copied = 0;
    std::size_t pos = body.find(key);
    while (pos != std::string::npos) {
        std::size_t i = pos + key.size();
        while (i < body.size() && IsJsonBlank(body[i])) ++i;
        if (i < body.size() && body[i] == ':') {
            ++i;
            while (i < body.size() && IsJsonBlank(body[i])) ++i;
            const std::size_t end = EndOfValue(body, i);
            out.append(body, copied, i - copied);
            out += "\"***\"";
            copied = end;
            pos = body.find(key, end);
        } else {
            pos = body.find(key, i);
        }
    }
    out.append(body, copied, std::string::npos);
    return out;
}

void LinkLogicImpl::HandlePlayerConnected(const char* playerId, bool sendOffer,
                                          std::function<void(bool ok, int httpStatus, const char* message)> done) {
    Guarded([&] {
        collector.MarkPlayerConnected();

        TurnOutcomeTargets targets;
        targets.playerId = playerId != nullptr ? playerId : "";
        LogMessage(kLogInfo, std::string(kLogPrefix) + "Player connected: " + targets.playerId +
                                 ", SendOffer: " + (sendOffer ? "true" : "false"));

        const std::string& base = config.turnApiUrl;
        if (base.empty()) {
            LogMessage(kLogError, std::string(kLogPrefix) + "TURN API URL not available - cannot fetch ICE servers");
            if (done) CallHost(done, false, 0, "TURN API URL missing");
            return;
        }
        const std::string url = BuildTurnApiUrl(base, streamerId);
        LogMessage(kLogInfo, std::string(kLogPrefix) + "Fetching TURN config from: " + url);

        HttpHeaders headers;
        const std::string token = GetAccessToken();
        if (token.empty()) {
            LogMessage(kLogWarn, std::string(kLogPrefix) + "Access Token is empty!");
        } else {
            headers["Authorization"] = "Bearer " + token;
        }
        headers["caller-id"] = kCallerId;

        targets.done = std::move(done);
        if (!targets.done) targets.onConnectionReady = HostCallback(&PlatformInterface::OnConnectionReady);
        targets.hostCallbacksCleared = hostCallbacksCleared;
        targets.onApplyRtcConfig = HostCallback(&PlatformInterface::OnApplyRTCConfig);
        // From here on the object is not touched: a host callback may destroy it.
        HttpGet(url, headers, [&targets](int status, const std::string& body) { OnTurnResponse(status, body, targets); });
    });
}

void LinkLogicImpl::OnTurnResponse(int status, const std::string& body, const TurnOutcomeTargets& targets) {
    if (status != 200) {
        LogMessage(kLogError, std::string(kLogPrefix) + "TURN fetch failed with HTTP code: " +
                                  std::to_string(status) + ", Response: " + BodyForLog(body));
        targets.Report(false, status, "TURN fetch failed");
        return;
    }
    LogMessage(kLogDebug, std::string(kLogPrefix) + "TURN Response (" + std::to_string(body.size()) +
                              " bytes): " + BodyForLog(MaskTurnCredentials(body)));
    bool isJson = false;
    const std::vector<PlatformInterface::IceServer> servers = ParseIceServers(body, &isJson);
    if (!isJson) {
        LogMessage(kLogWarn, std::string(kLogPrefix) + "TURN response is not JSON - ICE servers could not be read");
    }
    LogMessage(kLogDebug, std::string(kLogPrefix) + "Parsed " + std::to_string(servers.size()) + " ICE servers");
    // Neither host callback runs once Shutdown has returned (on any thread, or
    // from inside OnApplyRTCConfig).
    if (targets.onApplyRtcConfig && !targets.HostCallbacksCleared()) targets.onApplyRtcConfig(servers);
    targets.Report(true, 200, "Connection ready");
}

void LinkLogicImpl::TurnOutcomeTargets::Report(bool ok, int httpStatus, const char* message) const {
    if (done) {
        CallHost(done, ok, httpStatus, message);
    } else if (onConnectionReady && !HostCallbacksCleared()) {
        onConnectionReady(playerId.c_str(), ok, httpStatus, message);
    }
}

}  // namespace TesselSDK
