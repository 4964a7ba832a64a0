// Shared helpers of the test programs: the local service double, the
// environment, log files and waiting.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace testsupport {

// Base URL of the service double ("http://127.0.0.1:PORT"), from the
// TESSELSDK_TEST_SERVER variable that CTest sets.
std::string ServerUrl();
// The double's second listener, "http://127.0.0.2:PORT": another host to the
// client ("" when the double could not listen there).
std::string OtherServerUrl();

// Where the double serves the LIVE configuration document.
inline const char* LiveConfigPath() {
    return "/cdn-live/live/application_no/STATIC/halyxapp/streaming/config_streaming.json";
}

struct RecordedRequest {
    std::string method;
    std::string path;  // request target, query included
    std::vector<std::pair<std::string, std::string>> headers;  // in the order received
    std::string body;
    std::string server;  // the listener's address: "127.0.0.1", or "127.0.0.2" for OtherServerUrl

    // First value of a header (case-insensitive name), "" when absent.
    std::string Header(const std::string& name) const;
    int HeaderCount(const std::string& name) const;
};

// Control of the double, over a plain socket (independent of the library).
void ResetServer();
// Adds a scripted answer, e.g. {"path": "/x", "status": 500, "body": "..."};
// see tools/service_double.py.
void AddRoute(const nlohmann::json& rule);
std::vector<RecordedRequest> Requests(const std::string& prefix = "");
// Waits until at least `count` requests with the prefix were recorded.
std::vector<RecordedRequest> WaitForRequests(const std::string& prefix, size_t count,
                                             std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The payloads of the items of `type` in the event-ingestion envelopes that
// the reporter posted (JSON payloads parsed, others as a JSON string).
std::vector<nlohmann::ordered_json> EnvelopePayloads(const std::vector<RecordedRequest>& requests,
                                                     const std::string& type);

// Environment: set ("" is a value) or unset, restored by the destructor.
void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::string& value);  // sets
    explicit ScopedEnv(std::string name);                    // unsets
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    bool had_ = false;
    std::string old_;
};

// Whole file as text ("" when it cannot be read); lines without their
// line ending (both \n and \r\n accepted).
std::string ReadFile(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path);

// The user's local data folder (the log files' base) as the test environment
// defines it: LOCALAPPDATA on Windows, XDG_DATA_HOME elsewhere.
std::string DataFolder();

// Runs fn on a new thread with a stack of `bytes` (1 MB is the Windows
// default) and waits for it to end.
void RunOnStackOf(std::size_t bytes, const std::function<void()>& fn);

// Runs this test program again as a child process with `args` (none may hold
// a blank) and the current environment; its exit code, -1 when it could not
// be started or did not end normally.
int RunThisProgram(const std::vector<std::string>& args);

// Polls until pred() is true or the timeout passes; returns pred().
bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace testsupport
