// The process-wide client: start and stop, tags, breadcrumbs and captures.
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <utility>

#include "standins/sentry_halyx/dsn.h"
#include "standins/sentry_halyx/envelope.h"
#include "standins/sentry_halyx/options.h"
#include "standins/sentry_halyx/send_worker.h"
#include "standins/sentry_halyx/transport.h"
#include "standins/sentry_halyx/uuid_time.h"
#include "standins/sentry_halyx/value.h"

namespace SentryHalyx {
namespace {

constexpr std::size_t kMaxBreadcrumbs = 100;
// Longest wait of sentry_halyx_close for the queue and the worker.
constexpr int kShutdownTimeoutMs = 2000;

struct Client {
    std::mutex lifecycle;  // serialises init and close; taken before `mutex`
    std::mutex mutex;      // the fields below
    bool running = false;
    std::string dsn;  // as given, for the envelope header
    double sampleRate = 1.0;
    Diagnostics diagnostics;
    EventScope scope;
    std::shared_ptr<SendWorker> worker;
};

// Never destroyed: a host that exits without closing leaves no thread
// object to be destroyed at exit.
Client& TheClient() {
    static Client* client = new Client();
    return *client;
}

bool CreateDatabaseFolder(const std::string& path) {
    if (path.empty()) return true;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::u8path(path), ec);
    return std::filesystem::is_directory(std::filesystem::u8path(path), ec);
}

void CloseLocked(Client& client) {
    std::shared_ptr<SendWorker> worker;
    Diagnostics diagnostics;
    {
        std::lock_guard<std::mutex> lock(client.mutex);
        if (!client.running) return;
        client.running = false;
        worker = std::move(client.worker);
        diagnostics = client.diagnostics;
        client.scope = EventScope();
        client.diagnostics = Diagnostics();
    }
    diagnostics.Log(SENTRY_HALYX_LEVEL_DEBUG, "closing the client");
    if (worker && !worker->Shutdown(std::chrono::milliseconds(kShutdownTimeoutMs))) {
        diagnostics.Log(SENTRY_HALYX_LEVEL_WARNING,
                        "a send was still running after %d ms; it ends on its own and its result is dropped",
                        kShutdownTimeoutMs);
    }
}

int Init(std::unique_ptr<sentry_halyx_options_s> options) {
    Client& client = TheClient();
    std::lock_guard<std::mutex> lifecycle(client.lifecycle);
    CloseLocked(client);
    if (!options) return 1;

    Diagnostics diagnostics;
    diagnostics.debug = options->debug;
    diagnostics.logger = options->logger;
    diagnostics.userData = options->loggerData;
    diagnostics.Log(SENTRY_HALYX_LEVEL_INFO, "initializing the client");

    Dsn dsn;
    if (options->dsn.empty()) {
        diagnostics.Log(SENTRY_HALYX_LEVEL_WARNING, "no DSN given, the client does not start");
        return 1;
    }
    if (!ParseDsn(options->dsn, dsn)) {
        diagnostics.Log(SENTRY_HALYX_LEVEL_WARNING, "the DSN is malformed, the client does not start");
        return 1;
    }
    if (!CreateDatabaseFolder(options->databasePath)) {
        diagnostics.Log(SENTRY_HALYX_LEVEL_ERROR, "cannot create the database folder \"%s\"",
                        options->databasePath.c_str());
        return 1;
    }

    const std::string url = EnvelopeUrl(dsn);
    SendWorker::Settings settings;
    settings.url = url;
    settings.headers["X-Sentry-Auth"] = AuthHeader(dsn, std::string(kClientName) + "/" + kClientVersion);
    settings.transport = options->transport ? options->transport : Transport(&HttpTransport);
    settings.diagnostics = diagnostics;
    std::shared_ptr<SendWorker> worker;
    try {
        worker = std::make_shared<SendWorker>(std::move(settings));
    } catch (const std::exception&) {
        diagnostics.Log(SENTRY_HALYX_LEVEL_ERROR, "cannot start the send thread");
        return 1;
    }

    {
        std::lock_guard<std::mutex> lock(client.mutex);
        client.running = true;
        client.dsn = dsn.raw;
        client.sampleRate = options->sampleRate;
        client.diagnostics = diagnostics;
        client.scope.release = options->release;
        client.scope.environment = options->environment;
        client.worker = std::move(worker);
    }
    diagnostics.Log(SENTRY_HALYX_LEVEL_INFO, "client started, sending to %s", url.c_str());
    return 0;
}

sentry_halyx_uuid_t Capture(nlohmann::ordered_json event) {
    Client& client = TheClient();
    if (!event.is_object()) return sentry_halyx_uuid_t{};
    std::string envelope;
    std::string idText;
    sentry_halyx_uuid_t id{};
    Diagnostics diagnostics;
    bool sampledOut = false;
    bool droppedOldest = false;
    {
        std::lock_guard<std::mutex> lock(client.mutex);
        if (!client.running || !client.worker) return sentry_halyx_uuid_t{};
        diagnostics = client.diagnostics;
        sampledOut = client.sampleRate < 1.0 && RandomUnit() >= client.sampleRate;
    }
    if (sampledOut) {
        diagnostics.Log(SENTRY_HALYX_LEVEL_DEBUG, "event sampled out");
        return sentry_halyx_uuid_t{};
    }
    {
        const auto it = event.find("event_id");
        if (it == event.end() || !it->is_string() || !UuidFromString(it->get<std::string>(), id) ||
            sentry_halyx_uuid_is_nil(&id)) {
            id = NewUuid();
            event["event_id"] = UuidToString(id);
        }
        idText = event["event_id"].get<std::string>();
        std::lock_guard<std::mutex> lock(client.mutex);
        if (!client.running || !client.worker) return sentry_halyx_uuid_t{};
        PrepareEvent(event, client.scope);
        envelope = SerializeEnvelope(event, client.dsn);
        droppedOldest = client.worker->Enqueue(std::move(envelope));
    }
    diagnostics.Log(SENTRY_HALYX_LEVEL_DEBUG, "captured event %s", idText.c_str());
    if (droppedOldest) diagnostics.Log(SENTRY_HALYX_LEVEL_WARNING, "send queue full, dropped the oldest event");
    return id;
}

}  // namespace
}  // namespace SentryHalyx

extern "C" {

int sentry_halyx_init(sentry_halyx_options_t* options) {
    std::unique_ptr<sentry_halyx_options_s> owned(options);
    try {
        return SentryHalyx::Init(std::move(owned));
    } catch (...) {
        return 1;
    }
}

int sentry_halyx_close(void) {
    try {
        SentryHalyx::Client& client = SentryHalyx::TheClient();
        std::lock_guard<std::mutex> lifecycle(client.lifecycle);
        SentryHalyx::CloseLocked(client);
    } catch (...) {
    }
    return 0;
}

int sentry_halyx_flush(uint64_t timeout) {
    try {
        SentryHalyx::Client& client = SentryHalyx::TheClient();
        std::shared_ptr<SentryHalyx::SendWorker> worker;
        {
            std::lock_guard<std::mutex> lock(client.mutex);
            worker = client.worker;
        }
        if (!worker) return 0;
        // Bound the wait so that the duration arithmetic cannot overflow.
        const uint64_t capped = timeout > 86400000ull ? 86400000ull : timeout;
        return worker->Flush(std::chrono::milliseconds(static_cast<long long>(capped))) ? 0 : 1;
    } catch (...) {
        return 1;
    }
}

void sentry_halyx_set_tag(const char* key, const char* value) {
    if (key == nullptr || value == nullptr) return;
    try {
        SentryHalyx::Client& client = SentryHalyx::TheClient();
        std::lock_guard<std::mutex> lock(client.mutex);
        client.scope.tags[std::string(key)] = std::string(value);
    } catch (...) {
    }
}

void sentry_halyx_add_breadcrumb(sentry_halyx_value_t breadcrumb) {
    try {
        nlohmann::ordered_json crumb = SentryHalyx::TakeValue(breadcrumb);
        if (!crumb.is_object()) return;
        if (!crumb.contains("timestamp")) crumb["timestamp"] = SentryHalyx::TimestampNow();
        SentryHalyx::Client& client = SentryHalyx::TheClient();
        std::lock_guard<std::mutex> lock(client.mutex);
        // Like the real library, breadcrumbs are kept only while a client runs.
        if (!client.running) return;
        client.scope.breadcrumbs.push_back(std::move(crumb));
        while (client.scope.breadcrumbs.size() > SentryHalyx::kMaxBreadcrumbs) client.scope.breadcrumbs.pop_front();
    } catch (...) {
    }
}

sentry_halyx_uuid_t sentry_halyx_capture_event(sentry_halyx_value_t event) {
    try {
        return SentryHalyx::Capture(SentryHalyx::TakeValue(event));
    } catch (...) {
        return sentry_halyx_uuid_t{};
    }
}

}  // extern "C"
