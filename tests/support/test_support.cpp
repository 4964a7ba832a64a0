#include "test_support.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#include <process.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <pthread.h>
#include <spawn.h>
#include <unistd.h>
extern char** environ;
#endif

#include <gtest/gtest.h>

namespace testsupport {
namespace {

#if defined(_WIN32)
using Socket = SOCKET;
const Socket kBadSocket = INVALID_SOCKET;
void CloseSocket(Socket s) { closesocket(s); }
#else
using Socket = int;
const Socket kBadSocket = -1;
void CloseSocket(Socket s) { close(s); }
#endif

// The double sends texts as Latin-1 (one character a byte), which the JSON reader gives as UTF-8.
std::string Latin1Bytes(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        out.push_back(static_cast<char>(c < 0x80 || i + 1 == utf8.size() ? c : ((c & 3) << 6) | (utf8[++i] & 0x3F)));
    }
    return out;
}

bool IEquals(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::string ServerUrl() {
    const char* url = std::getenv("TESSELSDK_TEST_SERVER");
    return url != nullptr && *url != '\0' ? url : "http://127.0.0.1:18480";
}

std::string OtherServerUrl() {
    const char* url = std::getenv("TESSELSDK_TEST_OTHER_SERVER");
    return url != nullptr ? url : "";
}

std::string RecordedRequest::Header(const std::string& name) const {
    for (const auto& h : headers)
        if (IEquals(h.first, name)) return h.second;
    return "";
}

int RecordedRequest::HeaderCount(const std::string& name) const {
    return static_cast<int>(std::count_if(headers.begin(), headers.end(), [&](const auto& h) { return IEquals(h.first, name); }));
}

namespace {

// One request to the double over a plain socket (independent of the library).
struct RawResponse {
    int status = 0;
    std::string body;
};

RawResponse RawHttp(const std::string& method, const std::string& target, const std::string& body = "") {
#if defined(_WIN32)
    static const int winsock = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    (void)winsock;
#endif
    RawResponse response;
    Socket s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == kBadSocket) return response;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    const std::string url = ServerUrl();
    addr.sin_port = htons(static_cast<unsigned short>(std::atoi(url.c_str() + url.rfind(':') + 1)));
    addr.sin_addr.s_addr = htonl(0x7F000001);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        CloseSocket(s);
        return response;
    }
    std::ostringstream req;
    req << method << " " << target << " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
        << "Content-Length: " << body.size() << "\r\n\r\n"
        << body;
    std::string out = req.str();
    size_t sent = 0;
    while (sent < out.size()) {
        int n = send(s, out.data() + sent, static_cast<int>(out.size() - sent), 0);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    std::string in;
    char buf[8192];
    for (;;) {
        int n = recv(s, buf, sizeof(buf), 0);
        if (n <= 0) break;
        in.append(buf, static_cast<size_t>(n));
    }
    CloseSocket(s);
    size_t sp = in.find(' ');
    size_t end = in.find("\r\n\r\n");
    if (sp == std::string::npos || end == std::string::npos) return response;
    response.status = std::atoi(in.c_str() + sp + 1);
    response.body = in.substr(end + 4);
    return response;
}

}  // namespace

void ResetServer() {
    if (RawHttp("POST", "/__control/reset").status != 200)
        throw std::runtime_error("service double not reachable at " + ServerUrl());
}

void AddRoute(const nlohmann::json& rule) {
    if (RawHttp("POST", "/__control/route", rule.dump()).status != 200)
        throw std::runtime_error("service double refused a route");
}

std::vector<RecordedRequest> Requests(const std::string& prefix) {
    const RawResponse r = RawHttp("POST", "/__control/requests", prefix);
    std::vector<RecordedRequest> out;
    if (r.status != 200) return out;
    for (const auto& item : nlohmann::json::parse(r.body)) {
        RecordedRequest rec;
        rec.method = item["method"].get<std::string>();
        rec.path = item["path"].get<std::string>();
        for (const auto& h : item["headers"]) rec.headers.emplace_back(h[0].get<std::string>(), h[1].get<std::string>());
        rec.body = Latin1Bytes(item["body"].get<std::string>());
        rec.server = item["server"].get<std::string>();
        out.push_back(std::move(rec));
    }
    return out;
}

std::vector<RecordedRequest> WaitForRequests(const std::string& prefix, size_t count,
                                             std::chrono::milliseconds timeout) {
    std::vector<RecordedRequest> found;
    WaitUntil([&] {
        found = Requests(prefix);
        return found.size() >= count;
    }, timeout);
    return found;
}

void SetEnv(const std::string& name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name.c_str(), value.c_str());
    if (value.empty()) SetEnvironmentVariableA(name.c_str(), "");
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

void UnsetEnv(const std::string& name) {
#if defined(_WIN32)
    _putenv_s(name.c_str(), "");
    SetEnvironmentVariableA(name.c_str(), nullptr);
#else
    unsetenv(name.c_str());
#endif
}

ScopedEnv::ScopedEnv(std::string name) : name_(std::move(name)) {
    const char* old = std::getenv(name_.c_str());
    had_ = old != nullptr;
    if (had_) old_ = old;
    UnsetEnv(name_);
}

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : ScopedEnv(std::move(name)) { SetEnv(name_, value); }

ScopedEnv::~ScopedEnv() {
    if (had_)
        SetEnv(name_, old_);
    else
        UnsetEnv(name_);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string DataFolder() {
#if defined(_WIN32)
    const char* dir = std::getenv("LOCALAPPDATA");
#else
    const char* dir = std::getenv("XDG_DATA_HOME");
#endif
    return dir ? dir : "";
}

void RunOnStackOf(std::size_t bytes, const std::function<void()>& fn) {
    struct Run {
        const std::function<void()>& fn;
        bool finished = false;
        static void Body(void* p) {
            auto* run = static_cast<Run*>(p);
            try {
                run->fn();
            } catch (const std::exception& e) {
                ADD_FAILURE() << "exception on the small stack: " << e.what();
            }
            run->finished = true;
        }
    } run{fn};
#if defined(_WIN32)
    // The size as the reservation (the whole stack), not as the first commit.
    HANDLE thread = CreateThread(nullptr, bytes, [](void* p) -> DWORD { return Run::Body(p), 0; }, &run,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    const bool started = thread != nullptr;
    if (started) WaitForSingleObject(thread, INFINITE), CloseHandle(thread);
#else
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, bytes);
    pthread_t thread;
    const bool started = pthread_create(&thread, &attr, [](void* p) -> void* { return Run::Body(p), nullptr; }, &run) == 0;
    if (started) pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
#endif
    // A stack overflow may end the thread alone (so it does under Wine).
    EXPECT_TRUE(started && run.finished) << "the thread with a stack of " << bytes << " bytes did not start or died";
}

int RunThisProgram(const std::vector<std::string>& args) {
#if defined(_WIN32)
    char self[MAX_PATH] = {};
    if (GetModuleFileNameA(nullptr, self, MAX_PATH) == 0) return -1;
#else
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof(self) - 1) <= 0) return -1;
#endif
    std::vector<char*> argv{self};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
#if defined(_WIN32)
    return static_cast<int>(_spawnv(_P_WAIT, self, argv.data()));
#else
    pid_t child = 0;
    if (posix_spawn(&child, self, nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
#endif
}

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return pred();
}

std::vector<nlohmann::ordered_json> EnvelopePayloads(const std::vector<RecordedRequest>& requests,
                                                     const std::string& type) {
    std::vector<nlohmann::ordered_json> out;
    for (const RecordedRequest& request : requests) {
        // After the envelope's header line, each item's header line and payload.
        const std::string& body = request.body;
        std::size_t pos = body.find('\n');
        while (pos != std::string::npos && pos + 1 < body.size()) {
            const std::size_t headerEnd = body.find('\n', pos + 1);
            const auto header = nlohmann::ordered_json::parse(body.substr(pos + 1, headerEnd - pos - 1), nullptr, false);
            if (headerEnd == std::string::npos || !header.is_object()) break;
            std::size_t length = body.find('\n', headerEnd + 1);
            length = header.contains("length") ? header["length"].get<std::size_t>()
                                               : (length == std::string::npos ? body.size() : length) - headerEnd - 1;
            const std::string payload = body.substr(headerEnd + 1, length);
            if (header.value("type", "") == type) {
                out.push_back(nlohmann::ordered_json::parse(payload, nullptr, false));
                if (out.back().is_discarded()) out.back() = payload;
            }
            pos = headerEnd + 1 + length;
        }
    }
    return out;
}

}  // namespace testsupport
