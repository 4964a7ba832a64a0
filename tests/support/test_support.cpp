#include "test_support.h"

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
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <pthread.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

namespace testsupport {
namespace {

#if defined(_WIN32)
using Socket = SOCKET;
const Socket kBadSocket = INVALID_SOCKET;
void CloseSocket(Socket s) { closesocket(s); }
struct WinsockInit {
    WinsockInit() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
};
#else
using Socket = int;
const Socket kBadSocket = -1;
void CloseSocket(Socket s) { close(s); }
#endif

int ServerPort() {
    std::string url = ServerUrl();
    size_t colon = url.rfind(':');
    return std::atoi(url.c_str() + colon + 1);
}

std::string Base64Decode(const std::string& in) {
    static const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned val = 0;
    int bits = -8;
    for (unsigned char c : in) {
        size_t pos = chars.find(static_cast<char>(c));
        if (pos == std::string::npos) break;
        val = ((val << 6) | static_cast<unsigned>(pos)) & 0xFFFFFFu;
        bits += 6;
        if (bits >= 0) {
            out.push_back(static_cast<char>((val >> bits) & 0xFF));
            bits -= 8;
        }
    }
    return out;
}

bool IEquals(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

std::string ServerUrl() {
    const char* url = std::getenv("TESSELSDK_TEST_SERVER");
    return url != nullptr && *url != '\0' ? url : "http://127.0.0.1:18480";
}

std::string RecordedRequest::Header(const std::string& name) const {
    for (const auto& h : headers)
        if (IEquals(h.first, name)) return h.second;
    return "";
}

int RecordedRequest::HeaderCount(const std::string& name) const {
    int n = 0;
    for (const auto& h : headers)
        if (IEquals(h.first, name)) ++n;
    return n;
}

RawResponse RawHttp(const std::string& method, const std::string& target, const std::string& body) {
#if defined(_WIN32)
    static WinsockInit winsock;
#endif
    RawResponse response;
    Socket s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == kBadSocket) return response;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<unsigned short>(ServerPort()));
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

void ResetServer() {
    if (RawHttp("POST", "/__control/reset").status != 200)
        throw std::runtime_error("service double not reachable at " + ServerUrl());
}

void AddRoute(const nlohmann::json& rule) {
    if (RawHttp("POST", "/__control/route", rule.dump()).status != 200)
        throw std::runtime_error("service double refused a route");
}

std::vector<RecordedRequest> Requests(const std::string& prefix) {
    std::string encoded;
    for (unsigned char c : prefix) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.') {
            encoded.push_back(static_cast<char>(c));
        } else {
            char hex[4];
            std::snprintf(hex, sizeof(hex), "%%%02X", c);
            encoded += hex;
        }
    }
    RawResponse r = RawHttp("GET", "/__control/requests?prefix=" + encoded);
    std::vector<RecordedRequest> out;
    if (r.status != 200) return out;
    for (const auto& item : nlohmann::json::parse(r.body)) {
        RecordedRequest rec;
        rec.method = item["method"].get<std::string>();
        rec.path = item["path"].get<std::string>();
        for (const auto& h : item["headers"]) rec.headers.emplace_back(h[0].get<std::string>(), h[1].get<std::string>());
        rec.body = Base64Decode(item["body_b64"].get<std::string>());
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

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
    const char* old = std::getenv(name_.c_str());
    had_ = old != nullptr;
    if (had_) old_ = old;
    SetEnv(name_, value);
}

ScopedEnv::ScopedEnv(std::string name) : name_(std::move(name)) {
    const char* old = std::getenv(name_.c_str());
    had_ = old != nullptr;
    if (had_) old_ = old;
    UnsetEnv(name_);
}

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
    std::string text = ReadFile(path);
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = nl + 1;
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

bool UnderWine() {
#if defined(_WIN32)
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

namespace {

struct SmallStackRun {
    const std::function<void()>* fn;
    bool finished = false;
};

void RunCatching(void* p) {
    auto* run = static_cast<SmallStackRun*>(p);
    try {
        (*run->fn)();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "exception on the small stack: " << e.what();
    }
    run->finished = true;
}

}  // namespace

void RunOnStackOf(std::size_t bytes, const std::function<void()>& fn) {
#if defined(_WIN32)
    // The size as the reservation (the whole stack), not as the first commit.
    SmallStackRun run{&fn};
    const auto body = [](void* p) -> DWORD {
        RunCatching(p);
        return 0;
    };
    HANDLE thread = CreateThread(nullptr, bytes, body, &run, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        ADD_FAILURE() << "cannot start a thread with a stack of " << bytes << " bytes";
        return;
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    // A stack overflow may end the thread alone (so it does under Wine).
    EXPECT_TRUE(run.finished) << "the thread with a stack of " << bytes << " bytes died";
#else
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, bytes);
    pthread_t thread;
    SmallStackRun run{&fn};
    const auto body = [](void* p) -> void* {
        RunCatching(p);
        return nullptr;
    };
    if (pthread_create(&thread, &attr, body, &run) != 0) {
        ADD_FAILURE() << "cannot start a thread with a stack of " << bytes << " bytes";
    } else {
        pthread_join(thread, nullptr);
    }
    pthread_attr_destroy(&attr);
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

std::vector<EnvelopeItem> EnvelopeItems(const std::string& body) {
    std::vector<EnvelopeItem> items;
    std::size_t pos = body.find('\n');
    while (pos != std::string::npos && pos + 1 < body.size()) {
        const std::size_t headerEnd = body.find('\n', pos + 1);
        EnvelopeItem item;
        item.header = nlohmann::ordered_json::parse(body.substr(pos + 1, headerEnd - pos - 1), nullptr, false);
        if (headerEnd == std::string::npos || !item.header.is_object()) break;
        std::size_t length = body.find('\n', headerEnd + 1);
        length = (length == std::string::npos ? body.size() : length) - headerEnd - 1;
        if (item.header.contains("length")) length = item.header["length"].get<std::size_t>();
        const std::string payload = body.substr(headerEnd + 1, length);
        item.payload = nlohmann::ordered_json::parse(payload, nullptr, false);
        if (item.payload.is_discarded()) item.payload = payload;
        items.push_back(std::move(item));
        pos = headerEnd + 1 + length;
    }
    return items;
}

std::vector<nlohmann::ordered_json> EnvelopePayloads(const std::vector<RecordedRequest>& requests,
                                                     const std::string& type) {
    std::vector<nlohmann::ordered_json> out;
    for (const RecordedRequest& request : requests) {
        for (const EnvelopeItem& item : EnvelopeItems(request.body)) {
            if (item.header.value("type", "") == type) out.push_back(item.payload);
        }
    }
    return out;
}

}  // namespace testsupport
