// The event reporter: DSN handling, envelopes, the client's life cycle and
// its sending over HTTP.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "standins/sentry_halyx/dsn.h"
#include "standins/sentry_halyx/envelope.h"
#include "standins/sentry_halyx/options.h"
#include "standins/sentry_halyx/send_worker.h"
#include "standins/sentry_halyx/sentry_halyx.h"
#include "test_support.h"

using SentryHalyx::Dsn;
using SentryHalyx::ParseDsn;
using json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

namespace {

const char kDsn[] = "https://pub123@ingest.example.com/42";
const char kAuth[] = "Sentry sentry_version=7, sentry_client=sentry.native.halyx/0.8.3, sentry_key=";

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t nl = text.find('\n', start);
        lines.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
        if (nl == std::string::npos) return lines;
        start = nl + 1;
    }
}

struct Post {
    std::string url;
    std::map<std::string, std::string> headers;
    std::string body;
};

// Collects what the client would have sent.
struct Recorder {
    std::mutex mutex;
    std::vector<Post> posts;
    int status = 200;

    SentryHalyx::Transport Transport() {
        return [this](const std::string& url, const std::map<std::string, std::string>& headers,
                      const std::string& body) {
            std::lock_guard<std::mutex> lock(mutex);
            posts.push_back({url, headers, body});
            return status;
        };
    }
    std::vector<Post> Snapshot() {
        std::lock_guard<std::mutex> lock(mutex);
        return posts;
    }
};

sentry_halyx_options_t* Options(const std::string& dsn, const SentryHalyx::Transport& transport) {
    sentry_halyx_options_t* options = sentry_halyx_options_new();
    sentry_halyx_options_set_dsn(options, dsn.c_str());
    options->transport = transport;
    return options;
}

std::string IdText(const sentry_halyx_uuid_t& id) {
    char text[37];
    sentry_halyx_uuid_as_string(&id, text);
    return text;
}

std::string CaptureEmpty() { return IdText(sentry_halyx_capture_event(sentry_halyx_value_new_event())); }

json EventOf(const std::string& envelope) {
    const auto lines = SplitLines(envelope);
    return lines.size() == 3 ? json::parse(lines[2]) : json();
}

class ReporterTest : public ::testing::Test {
protected:
    void TearDown() override { sentry_halyx_close(); }
};

TEST(ReporterDsn, ParsesWellFormedAndRejectsMalformed) {
    Dsn dsn;
    ASSERT_TRUE(ParseDsn("http://abc:shh@[::1]:9000/sub/path/7/", dsn));
    EXPECT_EQ("http://[::1]:9000/sub/path/api/7/envelope/", SentryHalyx::EnvelopeUrl(dsn));
    EXPECT_EQ("Sentry sentry_version=7, sentry_client=c/1.0, sentry_key=abc, sentry_secret=shh",
              SentryHalyx::AuthHeader(dsn, "c/1.0"));
    for (const char* text : {"", "abc@host/42", "ftp://abc@host/42", "https://host/42", "https://abc@/42",
                             "https://abc@host/", "https://abc@host:65536/42", "https://abc@host/42?x=1",
                             "https://abc@host/4\n2", "https://abc@[::1/42"}) {
        EXPECT_FALSE(ParseDsn(text, dsn)) << text;
    }
}

TEST(ReporterEnvelope, ThreeLinesWithExactLengthAndInvalidUtf8Replaced) {
    json event = {{"event_id", "0123456789abcdef0123456789abcdef"},
                  {"message", {{"formatted", std::string("a\nb \xc3\xa9 caf\xe9!")}}}};
    const auto lines = SplitLines(SentryHalyx::SerializeEnvelope(event, kDsn));
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(event["event_id"], json::parse(lines[0])["event_id"]);
    EXPECT_EQ(kDsn, json::parse(lines[0])["dsn"]);
    EXPECT_EQ("event", json::parse(lines[1])["type"]);
    EXPECT_EQ(lines[2].size(), json::parse(lines[1])["length"].get<std::size_t>());
    EXPECT_EQ("a\nb \xc3\xa9 caf\xef\xbf\xbd!", json::parse(lines[2])["message"]["formatted"]);
}

TEST_F(ReporterTest, CapturedEventsCarryScopeAndTheLastHundredBreadcrumbs) {
    namespace fs = std::filesystem;
    const std::string database = "reporter-db-" + std::to_string(Clock::now().time_since_epoch().count());
    Recorder recorder;
    sentry_halyx_options_t* options = Options(kDsn, recorder.Transport());
    sentry_halyx_options_set_release(options, "rel-1");
    sentry_halyx_options_set_database_path(options, (database + "/nested").c_str());
    ASSERT_EQ(0, sentry_halyx_init(options));
    // Init creates the database folder, relative to the current directory.
    EXPECT_TRUE(fs::is_directory(fs::current_path() / database / "nested"));
    fs::remove_all(fs::current_path() / database);

    sentry_halyx_set_tag("TESSELSDK_ENV", "QA");
    for (int i = 0; i < 150; ++i) {
        sentry_halyx_add_breadcrumb(sentry_halyx_value_new_breadcrumb("config", std::to_string(i).c_str()));
    }
    const std::string messageId = IdText(sentry_halyx_capture_event(
        sentry_halyx_value_new_message_event(SENTRY_HALYX_LEVEL_WARNING, "TesselSDK", "hello")));
    sentry_halyx_value_t exceptionEvent = sentry_halyx_value_new_event();
    sentry_halyx_event_add_exception(exceptionEvent, sentry_halyx_value_new_exception("CDN_Parse_Exception", "bad"));
    const std::string exceptionId = IdText(sentry_halyx_capture_event(exceptionEvent));
    ASSERT_EQ(0, sentry_halyx_flush(5000));

    const auto posts = recorder.Snapshot();
    ASSERT_EQ(2u, posts.size());
    for (const Post& post : posts) {
        EXPECT_EQ("https://ingest.example.com/api/42/envelope/", post.url);
        EXPECT_EQ(std::string(kAuth) + "pub123", post.headers.at("X-Sentry-Auth"));
        const json event = EventOf(post.body);
        EXPECT_EQ("rel-1", event["release"]);
        EXPECT_EQ("production", event["environment"]);
        EXPECT_EQ("QA", event["tags"]["TESSELSDK_ENV"]);
        EXPECT_TRUE(event["timestamp"].is_string());
        const json& crumbs = event["breadcrumbs"]["values"];
        ASSERT_EQ(100u, crumbs.size());
        EXPECT_EQ("config", crumbs.front()["type"]);
        EXPECT_EQ("50", crumbs.front()["message"]);
    }
    const json message = EventOf(posts[0].body);
    EXPECT_EQ(messageId, message["event_id"]);
    EXPECT_EQ("warning", message["level"]);
    EXPECT_EQ("TesselSDK", message["logger"]);
    EXPECT_EQ("hello", message["message"]["formatted"]);
    const json exception = EventOf(posts[1].body);
    EXPECT_EQ(exceptionId, exception["event_id"]);
    EXPECT_NE(messageId, exceptionId);
    EXPECT_EQ("CDN_Parse_Exception", exception["exception"]["values"][0]["type"]);
    EXPECT_EQ("bad", exception["exception"]["values"][0]["value"]);
}

TEST_F(ReporterTest, NothingIsKeptOrSentUnlessStarted) {
    testsupport::ScopedEnv noDsn("SENTRY_HALYX_DSN");
    Recorder recorder;
    const std::string nil = "00000000-0000-0000-0000-000000000000";
    EXPECT_NE(0, sentry_halyx_init(Options("", recorder.Transport())));
    EXPECT_NE(0, sentry_halyx_init(Options("not a dsn", recorder.Transport())));
    EXPECT_NE(0, sentry_halyx_init(nullptr));
    sentry_halyx_add_breadcrumb(sentry_halyx_value_new_breadcrumb("t", "before init"));
    EXPECT_EQ(nil, CaptureEmpty());

    ASSERT_EQ(0, sentry_halyx_init(Options(kDsn, recorder.Transport())));
    EXPECT_NE(nil, CaptureEmpty());
    EXPECT_EQ(0, sentry_halyx_close());
    ASSERT_EQ(1u, recorder.Snapshot().size());
    EXPECT_FALSE(EventOf(recorder.Snapshot()[0].body).contains("breadcrumbs"));

    EXPECT_EQ(nil, CaptureEmpty());
    EXPECT_EQ(0, sentry_halyx_flush(10));
    EXPECT_EQ(0, sentry_halyx_close());  // twice is harmless
    EXPECT_EQ(1u, recorder.Snapshot().size());
}

TEST_F(ReporterTest, EnvironmentFillsUnsetOptions) {
    Recorder recorder;
    testsupport::ScopedEnv dsn("SENTRY_HALYX_DSN", "http://envkey@127.0.0.1:1/77");
    testsupport::ScopedEnv release("SENTRY_HALYX_RELEASE", "env-release");
    testsupport::ScopedEnv environment("SENTRY_HALYX_ENVIRONMENT", "staging");
    sentry_halyx_options_t* options = sentry_halyx_options_new();
    options->transport = recorder.Transport();
    ASSERT_EQ(0, sentry_halyx_init(options));
    CaptureEmpty();
    ASSERT_EQ(0, sentry_halyx_flush(5000));
    const auto posts = recorder.Snapshot();
    ASSERT_EQ(1u, posts.size());
    EXPECT_EQ("http://127.0.0.1:1/api/77/envelope/", posts[0].url);
    EXPECT_EQ("env-release", EventOf(posts[0].body)["release"]);
    EXPECT_EQ("staging", EventOf(posts[0].body)["environment"]);
}

TEST_F(ReporterTest, DiagnosticsReachTheLoggerOnlyInDebugMode) {
    static std::mutex mutex;
    static std::string lines;
    const auto logger = [](sentry_halyx_level_t level, const char* format, va_list args, void*) {
        char buffer[512];
        std::vsnprintf(buffer, sizeof buffer, format, args);
        std::lock_guard<std::mutex> lock(mutex);
        lines += std::to_string(static_cast<int>(level)) + "|" + buffer + "\n";
    };
    Recorder recorder;
    recorder.status = 503;
    for (int debug : {0, 1}) {
        sentry_halyx_options_t* options = Options(kDsn, recorder.Transport());
        sentry_halyx_options_set_debug(options, debug);
        sentry_halyx_options_set_logger(options, logger, nullptr);
        ASSERT_EQ(0, sentry_halyx_init(options));
        const std::string id = CaptureEmpty();
        sentry_halyx_close();
        std::lock_guard<std::mutex> lock(mutex);
        if (debug == 0) {
            EXPECT_EQ("", lines);
        } else {
            EXPECT_NE(std::string::npos, lines.find(id)) << lines;
            EXPECT_NE(std::string::npos, lines.find("1|sending envelope failed with status 503")) << lines;
        }
    }
}

// A transport that blocks until released, to hold the worker in a post.
struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    std::vector<std::string> ids;

    SentryHalyx::Transport Transport() {
        return [this](const std::string&, const std::map<std::string, std::string>&, const std::string& body) {
            std::unique_lock<std::mutex> lock(mutex);
            ids.push_back(json::parse(SplitLines(body)[0])["event_id"].get<std::string>());
            cv.wait(lock, [this] { return open; });
            return 200;
        };
    }
    void Open() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            open = true;
        }
        cv.notify_all();
    }
};

TEST_F(ReporterTest, FullQueueDropsTheOldestEvents) {
    Gate gate;
    ASSERT_EQ(0, sentry_halyx_init(Options(kDsn, gate.Transport())));
    const std::string first = CaptureEmpty();
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        std::lock_guard<std::mutex> lock(gate.mutex);
        return gate.ids.size() == 1;
    }));
    std::vector<std::string> queued;
    for (int i = 0; i < 130; ++i) queued.push_back(CaptureEmpty());
    gate.Open();
    ASSERT_EQ(0, sentry_halyx_flush(10000));

    std::lock_guard<std::mutex> lock(gate.mutex);
    ASSERT_EQ(101u, gate.ids.size());  // the one in flight and a full queue
    EXPECT_EQ(first, gate.ids[0]);
    EXPECT_EQ(queued[30], gate.ids[1]);
    EXPECT_EQ(queued.back(), gate.ids.back());
}

TEST_F(ReporterTest, ConcurrentCapturesAndCloseAreSafe) {
    Recorder recorder;
    ASSERT_EQ(0, sentry_halyx_init(Options(kDsn, recorder.Transport())));
    std::atomic<int> accepted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                sentry_halyx_set_tag("k", "v");
                sentry_halyx_add_breadcrumb(sentry_halyx_value_new_breadcrumb("t", "m"));
                const sentry_halyx_uuid_t id = sentry_halyx_capture_event(sentry_halyx_value_new_event());
                if (!sentry_halyx_uuid_is_nil(&id)) accepted.fetch_add(1);
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    sentry_halyx_close();
    for (auto& thread : threads) thread.join();
    EXPECT_LE(recorder.Snapshot().size(), static_cast<std::size_t>(accepted.load()));
    EXPECT_EQ(0, SentryHalyx::SendWorker::LiveThreads());
}

// Over the library's HTTP client, against the service double.
std::string DoubleDsn(const std::string& project) {
    const std::string server = testsupport::ServerUrl();  // http://127.0.0.1:PORT
    return "http://pubkey@" + server.substr(std::string("http://").size()) + "/" + project;
}

TEST_F(ReporterTest, EnvelopeArrivesAtTheIngestionEndpoint) {
    testsupport::ResetServer();
    sentry_halyx_options_t* options = sentry_halyx_options_new();
    sentry_halyx_options_set_dsn(options, DoubleDsn("42").c_str());
    ASSERT_EQ(0, sentry_halyx_init(options));
    sentry_halyx_set_tag("TESSELSDK_GAME_ID", "G1");
    const std::string id = IdText(sentry_halyx_capture_event(
        sentry_halyx_value_new_message_event(SENTRY_HALYX_LEVEL_INFO, "TesselSDK", "over the wire")));
    EXPECT_EQ(0, sentry_halyx_flush(10000));

    const auto requests = testsupport::WaitForRequests("/api/", 1);
    ASSERT_EQ(1u, requests.size());
    const auto& request = requests[0];
    EXPECT_EQ("POST", request.method);
    EXPECT_EQ("/api/42/envelope/", request.path);
    EXPECT_EQ("application/x-sentry-envelope", request.Header("Content-Type"));
    EXPECT_EQ(std::string(kAuth) + "pubkey", request.Header("X-Sentry-Auth"));
    const auto lines = SplitLines(request.body);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(id, json::parse(lines[0])["event_id"]);
    EXPECT_EQ("over the wire", json::parse(lines[2])["message"]["formatted"]);
    EXPECT_EQ("G1", json::parse(lines[2])["tags"]["TESSELSDK_GAME_ID"]);
}

TEST_F(ReporterTest, UnreachableServerNeverHangsTheHost) {
    testsupport::ResetServer();
    testsupport::AddRoute({{"prefix", "/api/"}, {"mode", "hang"}});
    // A refused port, then a server that accepts and never answers.
    for (const std::string& dsn : {std::string("http://k@127.0.0.1:1/9"), DoubleDsn("9")}) {
        SCOPED_TRACE(dsn);
        sentry_halyx_options_t* options = sentry_halyx_options_new();
        sentry_halyx_options_set_dsn(options, dsn.c_str());
        ASSERT_EQ(0, sentry_halyx_init(options));
        CaptureEmpty();
        auto start = Clock::now();
        sentry_halyx_flush(100);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
        start = Clock::now();
        sentry_halyx_close();
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3500));
        // A post in flight is left to end by its own timeouts; its sender then ends too.
        EXPECT_TRUE(testsupport::WaitUntil([] { return SentryHalyx::SendWorker::LiveThreads() == 0; },
                                           std::chrono::seconds(20)));
    }
    testsupport::ResetServer();
}

}  // namespace
