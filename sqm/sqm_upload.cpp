// Metrics upload: payload log line, URL, headers, gzip, post, and the timed
// retries of a failed post.
#include <chrono>
#include <optional>

#include "net/http_url.h"
#include "sqm/sqm.h"
#include "sqm/sqm_gzip.h"
#include "sqm/sqm_impl.h"
#include "tesselsdk_endpoints.h"
#include "util/json_text.h"
#include "util/log_body.h"
#include "util/text.h"

namespace TesselSDK {
namespace {

constexpr int kMaxRetries = 3;

// Whether an "http://" URL names this machine exactly: 127.0.0.1, localhost or
// [::1], with an optional port and no user part.
bool NamesLoopbackHost(const std::string& url) {
    HttpUrlParts parts;
    if (!SplitHttpUrl(url, parts) || parts.userInfo) return false;
    return parts.host == "127.0.0.1" || AsciiEqualNoCase(parts.host, "localhost") || parts.host == "[::1]";
}

}  // namespace

std::string MetricsUrl(const std::string& api, bool loopbackHttpAllowed) {
    if (api.empty()) return std::string(TESSELSDK_SQM_DEV_URL) + "/virivizar-sqm/v1.0/metrics";
    std::string host = api;
    while (!host.empty() && host.back() == '/') host.pop_back();
    // The post carries the bearer token, so it always goes over https; only a
    // build for the local service double may reach a loopback host over http.
    const std::size_t scheme = HttpSchemeLength(host);
    const bool plainLoopback = scheme == 7 && loopbackHttpAllowed && NamesLoopbackHost(host);
    return std::string(plainLoopback ? "http://" : "https://") + host.substr(scheme) + "/v1.0/metrics";
}

HttpHeaders SQM::BuildRequestHeaders(const std::string& token) const {
    HttpHeaders headers;
    headers["Content-Type"] = "application/json";
    headers["Content-Encoding"] = "gzip";
    headers["Caller-Id"] = "ZADODADUZUVU-1.0.0";
    std::string bearer = token;
    if (bearer.empty() && impl->providers.accessTokenFn) bearer = impl->providers.accessTokenFn();
    if (!bearer.empty()) headers["Authorization"] = "Bearer " + bearer;
    return headers;
}

void SQM::SendPending(const SqmPendingSend& start, const SqmPendingSend& during) {
    if (start.ready) {
        LogInfo("[TesselSDK::SQM] Sending START_STREAMING...");
        const std::uint64_t generation = start.generation;
        PostMetrics("START_STREAMING", start.body, start.headers, 0,
                    [this, generation]() { OnStartStreamingSent(generation); }, true);
    }
    if (during.ready) {
        LogInfo("[TesselSDK::SQM] Sending DURING_STREAMING...");
        PostMetrics("DURING_STREAMING", during.body, during.headers, 0, nullptr, true);
    }
}

void SQM::PostMetrics(const char* name, const std::string& body, const HttpHeaders& headers, int attempt,
                      std::function<void()> onSuccess, bool builtHere) {
    const std::string recordName = name != nullptr ? name : "UNKNOWN";
    if (attempt == 0 && builtHere) {
        LogInfo("[TesselSDK::SQM] " + recordName + " payload:\n" + body);
    } else if (attempt == 0) {
        const Json parsed = Json::parse(body, nullptr, false);
        if (parsed.is_discarded())
            LogInfo("[TesselSDK::SQM] " + recordName + " payload (raw):\n" + body);
        else
            LogInfo("[TesselSDK::SQM] " + recordName + " payload:\n" + CompactJsonText(parsed));
    }
    if (!impl->providers.httpPostFn) return;
    // Compressed once; the retries post the same bytes. A body that cannot be
    // compressed is not sent at all.
    std::optional<std::string> gzipped = impl->compress(body);
    if (!gzipped) {
        LogError("[TesselSDK::SQM] " + recordName + " not sent: gzip compression failed.");
        return;
    }
    PostGzipped(recordName, std::make_shared<const std::string>(std::move(*gzipped)), headers, attempt,
                std::move(onSuccess));
}

void SQM::PostGzipped(const std::string& name, std::shared_ptr<const std::string> gzipped, const HttpHeaders& headers,
                      int attempt, std::function<void()> onSuccess) {
    if (!impl->providers.httpPostFn) return;
    std::string api;
    {
        std::lock_guard<std::mutex> lock(impl->configMutex);
        api = impl->config.api;
    }
    HttpCompletion completion = [this, name, gzipped, headers, attempt, onSuccess](int status,
                                                                                  const std::string& response) {
        OnMetricsResponse(name, gzipped, headers, attempt, onSuccess, status, response);
    };
    impl->providers.httpPostFn(MetricsUrl(api, TESSELSDK_LOCAL_ENDPOINTS != 0), *gzipped, headers, completion);
}

void SQM::OnMetricsResponse(const std::string& name, const std::shared_ptr<const std::string>& gzipped,
                            const HttpHeaders& headers, int attempt, const std::function<void()>& onSuccess,
                            int status, const std::string& response) {
    if (status == 200) {
        LogInfo("[TesselSDK::SQM] " + name + ": " + std::to_string(status) + ": " + BodyForLog(response));
        if (onSuccess) onSuccess();
        return;
    }
    LogWarn("[TesselSDK::SQM] " + name + " failed HTTP " + std::to_string(status) + ": " + BodyForLog(response) +
            " (attempt " + std::to_string(attempt + 1) + ")");
    if (attempt >= kMaxRetries) {
        LogError("[TesselSDK::SQM] " + name + " dropped after max retries.");
        return;
    }
    const std::chrono::milliseconds delay(std::min(1000 << attempt, 10000));
    const std::chrono::milliseconds wait = impl->retryWait ? impl->retryWait(delay) : delay;
    auto retry = [this, name, gzipped, headers, attempt, onSuccess]() {
        PostGzipped(name, gzipped, headers, attempt + 1, onSuccess);
    };
    // A retry the collector's end stops before it ran (or refuses, while it
    // is ending) is reported.
    auto dropped = [this, name]() {
        LogWarn("[TesselSDK::SQM] " + name + " retry dropped: the collector was destroyed before it ran.");
    };
    switch (impl->retries.Schedule(wait, std::move(retry), dropped)) {
        case SqmRetryPool::ScheduleResult::Scheduled: break;
        case SqmRetryPool::ScheduleResult::Stopping: dropped(); break;
        case SqmRetryPool::ScheduleResult::ThreadFailed:
            LogError("[TesselSDK::SQM] " + name + " retry dropped: cannot start a retry thread.");
            break;
    }
}

void SQM::OnStartStreamingSent(std::uint64_t generation) {
    std::lock_guard<std::mutex> lock(impl->sessionMutex);
    // A success that belongs to an earlier streaming start changes nothing.
    if (impl->session.generation == generation) impl->session.startSent = true;
}

}  // namespace TesselSDK
