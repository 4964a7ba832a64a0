// The transport of the HTTP client on Linux: libcurl, made to behave like the
// Windows transport (user agent, header lines, redirects, timeouts, failure
// texts), one easy handle per request and per redirect hop.
#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/http_client.h"
#include "net/http_redirect_policy.h"
#include "net/http_request_target_linux.h"
#include "net/http_transfer_limits_linux.h"
#include "net/http_transport.h"
#include "net/http_url.h"
#include "util/cancel.h"
#include "util/text.h"

namespace TesselSDK {
namespace {

const char* const kUserAgent = "TesselSDK/1.0";

struct EasyCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

struct SlistFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistFree>;

// libcurl's global state is set up once, explicitly, before the first handle
// exists; it is never torn down (other threads may still be in a request
// when the process exits, and a static destructor must not race them).
bool EnsureCurlReady() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

// What one exchange with the server produced.
struct Hop {
    CURL* curl = nullptr;
    CURLcode code = CURLE_OK;
    bool headersDone = false;  // the final (non-1xx) response's headers arrived
    int status = 0;
    std::string body;
    std::string location;  // the final response's Location, as the server wrote it ("" for none)
    bool callbackFailed = false;
    // Stall watch: armed once the connection stands (connect timeout before).
    bool connected = false;
    std::chrono::steady_clock::time_point lastActivity;
    curl_off_t lastDown = 0;
    curl_off_t lastUp = 0;
};

// Called once the connection (TLS included) stands, before the request goes out.
int OnConnected(void* user, char*, char*, int, int) {
    auto* hop = static_cast<Hop*>(user);
    hop->connected = true;
    hop->lastActivity = std::chrono::steady_clock::now();
    return CURL_PREREQFUNC_OK;
}

// Records when a byte last moved either way; the transfer loop (Drive)
// enforces the stall limit against that time on the steady clock.
int OnProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    auto* hop = static_cast<Hop*>(user);
    if (down != hop->lastDown || up != hop->lastUp) {
        hop->lastDown = down;
        hop->lastUp = up;
        hop->lastActivity = std::chrono::steady_clock::now();
    }
    return 0;
}

// Whether `line` is a Location header line; `value` then receives its value
// without the blanks around it.
bool LocationValue(std::string_view line, std::string_view& value) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !AsciiEqualNoCase(line.substr(0, colon), "location")) return false;
    const std::size_t begin = line.find_first_not_of(" \t", colon + 1);
    const std::size_t end = line.find_last_not_of(" \t\r\n");
    value = begin == std::string_view::npos || end < begin ? std::string_view() : line.substr(begin, end + 1 - begin);
    return true;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* hop = static_cast<Hop*>(user);
    const size_t length = size * count;
    hop->lastActivity = std::chrono::steady_clock::now();
    // The blank line that ends a header block. Interim (1xx) blocks are
    // passed over; the first final block marks the response as received.
    const bool blank = (length == 2 && data[0] == '\r' && data[1] == '\n') || (length == 1 && data[0] == '\n');
    // The Location is kept as the server wrote it, as the Windows transport
    // keeps it: the redirect policy alone reads it (libcurl's resolution of it
    // would be a second reading of the URL, which may name another host).
    const std::string_view line(data, length);
    std::string_view location;
    if (!hop->headersDone && line.compare(0, 5, "HTTP/") == 0) {
        hop->location.clear();  // a new header block
    } else if (!hop->headersDone && hop->location.empty() && LocationValue(line, location)) {
        try {
            hop->location.assign(location.data(), location.size());
        } catch (...) {
            hop->callbackFailed = true;
            return 0;  // makes libcurl stop with a write error
        }
    }
    if (blank && !hop->headersDone) {
        long code = 0;
        if (curl_easy_getinfo(hop->curl, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK && code >= 200) {
            hop->headersDone = true;
            hop->status = static_cast<int>(code);
        }
    }
    return length;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* hop = static_cast<Hop*>(user);
    const size_t length = size * count;
    // A body that reaches the bound is cut there: a short count makes libcurl
    // stop with a write error and close the connection; the headers are in,
    // so the response is delivered with what was kept.
    const size_t room = kHttpMaxBodyBytes - hop->body.size();
    try {
        hop->body.append(data, length < room ? length : room);
    } catch (...) {
        hop->callbackFailed = true;
        return 0;  // makes libcurl stop with a write error
    }
    return length < room ? length : 0;
}

// Our lines in order, in the form libcurl sends as they are; plus removal
// entries for the headers libcurl would otherwise add on its own and the
// Windows transport does not send (Accept, Expect: 100-continue, and the
// form content type of a POST without one).
bool BuildHeaderList(const std::vector<std::string>& lines, HeaderList& list) {
    bool hasAccept = false, hasExpect = false, hasContentType = false;
    const auto append = [&list](const std::string& entry) {
        curl_slist* head = curl_slist_append(list.get(), entry.c_str());
        if (head == nullptr) return false;
        if (!list) list.reset(head);  // appending to a list keeps its head
        return true;
    };
    for (const std::string& line : lines) {
        const std::string_view name = std::string_view(line).substr(0, line.find(':'));
        hasAccept = hasAccept || AsciiEqualNoCase(name, "accept");
        hasExpect = hasExpect || AsciiEqualNoCase(name, "expect");
        hasContentType = hasContentType || AsciiEqualNoCase(name, "content-type");
        // "Name: " with nothing after it would tell libcurl to drop the header;
        // "Name;" is its way to send a header with an empty value.
        const size_t colon = line.find(':');
        const bool emptyValue = line.find_first_not_of(' ', colon + 1) == std::string::npos;
        if (!append(emptyValue ? line.substr(0, colon) + ";" : line)) return false;
    }
    if (!hasAccept && !append("Accept:")) return false;
    if (!hasExpect && !append("Expect:")) return false;
    if (!hasContentType && !append("Content-Type:")) return false;
    return true;
}

bool IsSendStageFailure(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SEND_ERROR:
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return true;
        default:
            return false;
    }
}

struct UrlCleanup {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlCleanup>;

// libcurl's own reading of the URL made from `parts`, kept only when it names
// the same scheme, host (ASCII case ignored) and port; null otherwise. The
// transfer is then given this very reading, so nothing parses the URL again.
UrlHandle ReadUrlAsCurlDoes(const HttpUrlParts& parts) {
    UrlHandle url(curl_url());
    if (!url) return nullptr;
    const std::string text = HttpOrigin(parts) + EscapeRequestTarget(HttpRequestTarget(parts));
    if (curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) return nullptr;
    const auto part = [&url](CURLUPart which, unsigned int flags) {
        char* value = nullptr;
        std::string out;
        if (curl_url_get(url.get(), which, &value, flags) == CURLUE_OK && value != nullptr) out = value;
        curl_free(value);
        return out;
    };
    const std::string scheme = part(CURLUPART_SCHEME, 0);
    HttpUrlParts read;
    read.secure = scheme == "https";
    read.host = part(CURLUPART_HOST, 0);
    const bool same = (read.secure || scheme == "http") &&
                      ParsePort(part(CURLUPART_PORT, CURLU_DEFAULT_PORT), read.port) && SameOrigin(parts, read);
    return same ? std::move(url) : nullptr;
}

// Sets every option of one exchange; false when libcurl refuses one.
bool Configure(CURL* curl, Hop& hop, const std::string& method, const CURLU* url, const std::string& body,
               const curl_slist* headers, const TransferLimits& limits) {
    bool ok = true;
    const auto set = [&ok](CURLcode result) { ok = ok && result == CURLE_OK; };
    set(curl_easy_setopt(curl, CURLOPT_CURLU, url));
    set(curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L));
    set(curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent));
    set(curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)));
    set(curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L));  // followed by hand, see PlanRedirect
    set(curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L));
    set(curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L));
    set(curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L));
    set(curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers));
    set(curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader));
    set(curl_easy_setopt(curl, CURLOPT_HEADERDATA, &hop));
    set(curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody));
    set(curl_easy_setopt(curl, CURLOPT_WRITEDATA, &hop));
    set(curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeoutMs)));
    set(curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, &OnConnected));
    set(curl_easy_setopt(curl, CURLOPT_PREREQDATA, &hop));
    set(curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &OnProgress));
    set(curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &hop));
    set(curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L));
    if (method == "GET" && body.empty()) {
        set(curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L));
    } else if (method == "HEAD") {
        set(curl_easy_setopt(curl, CURLOPT_NOBODY, 1L));
    } else {
        set(curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())));
        set(curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data()));
        if (method != "POST") set(curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str()));
    }
    return ok;
}

// Runs one transfer to its end. curl_easy_perform wakes only about once a
// second while the connection is idle, which stretches a 1.5 s stall limit to
// 2 s; this loop sleeps exactly until the stall deadline (or earlier when
// libcurl has a timer of its own due) and aborts there with a timeout. A
// cancellation (see util/cancel.h) wakes the wait and ends the transfer.
CURLcode DriveAdded(CURLM* multi, const Hop& hop, long long stallMs, CancelToken* cancel) {
    // Unregistered before the caller cleans the multi handle up.
    CancelHook hook(cancel, [multi] { curl_multi_wakeup(multi); });
    CURLcode code = CURLE_OK;
    for (;;) {
        if (cancel != nullptr && cancel->Cancelled()) {
            code = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            code = CURLE_RECV_ERROR;
            break;
        }
        if (running == 0) {
            int queued = 0;
            const CURLMsg* message = curl_multi_info_read(multi, &queued);
            code = message != nullptr && message->msg == CURLMSG_DONE ? message->data.result : CURLE_RECV_ERROR;
            break;
        }
        int waitMs = 1000;
        if (hop.connected && stallMs > 0) {
            const auto idle = std::chrono::steady_clock::now() - hop.lastActivity;
            const long long left = stallMs - std::chrono::duration_cast<std::chrono::milliseconds>(idle).count();
            if (left <= 0) {
                code = CURLE_OPERATION_TIMEDOUT;
                break;
            }
            if (left < waitMs) waitMs = static_cast<int>(left);
        }
        if (curl_multi_poll(multi, nullptr, 0, waitMs, nullptr) != CURLM_OK) {
            code = CURLE_RECV_ERROR;
            break;
        }
    }
    return code;
}

// The transfer of `curl` on a multi handle of its own.
CURLcode Drive(CURL* curl, const Hop& hop, long long stallMs, CancelToken* cancel) {
    struct MultiCleanup {
        void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
    };
    std::unique_ptr<CURLM, MultiCleanup> multi(curl_multi_init());
    if (!multi || curl_multi_add_handle(multi.get(), curl) != CURLM_OK) return CURLE_OUT_OF_MEMORY;
    CURLcode code = DriveAdded(multi.get(), hop, stallMs, cancel);
    // Detached before the easy handle's own cleanup; its transfer info stays.
    curl_multi_remove_handle(multi.get(), curl);
    return code;
}

// One request and its response, without following redirects.
HttpTransportResult Exchange(const std::string& method, const HttpUrlParts& parts, const std::string& body,
                             const curl_slist* headers, const TransferLimits& limits, CancelToken* cancel, Hop& hop) {
    // Declared before the easy handle, which reads it until its cleanup.
    const UrlHandle url = ReadUrlAsCurlDoes(parts);
    if (!url) return HttpTransportFailure(kHttpFailParseUrl);
    EasyHandle curl(curl_easy_init());
    if (!curl) return HttpTransportFailure(kHttpFailOpenSession);
    hop.curl = curl.get();
    if (!Configure(curl.get(), hop, method, url.get(), body, headers, limits)) {
        return HttpTransportFailure(kHttpFailOpenRequest);
    }
    hop.code = Drive(curl.get(), hop, limits.stallMs, cancel);
    if (hop.callbackFailed) throw std::bad_alloc();
    // A cancelled transfer fails whatever it had received.
    if (hop.code == CURLE_ABORTED_BY_CALLBACK) return HttpTransportFailure(kHttpFailReceiveResponse);

    if (hop.headersDone) {
        HttpTransportResult result;
        result.received = true;
        result.status = hop.status;
        result.body = std::move(hop.body);
        return result;
    }
    if (hop.code == CURLE_OK) return HttpTransportFailure(kHttpFailReceiveResponse);
    if (IsSendStageFailure(hop.code)) return HttpTransportFailure(kHttpFailSendRequest);
    if (hop.code == CURLE_OPERATION_TIMEDOUT) {
        // A stall before the whole request went out is a send failure, as it
        // is for WinHttpSendRequest; afterwards the wait for the answer failed.
        curl_off_t uploaded = 0;
        long requestSize = 0;
        curl_easy_getinfo(curl.get(), CURLINFO_SIZE_UPLOAD_T, &uploaded);
        curl_easy_getinfo(curl.get(), CURLINFO_REQUEST_SIZE, &requestSize);
        const bool sent = requestSize > 0 && uploaded >= static_cast<curl_off_t>(body.size());
        if (!sent) return HttpTransportFailure(kHttpFailSendRequest);
    }
    return HttpTransportFailure(kHttpFailReceiveResponse);
}

}  // namespace

HttpTransportResult PerformHttpTransport(const HttpTransportRequest& request) {
    if (!EnsureCurlReady()) return HttpTransportFailure(kHttpFailOpenSession);
    HeaderList headers;
    if (!BuildHeaderList(request.headerLines, headers)) return HttpTransportFailure(kHttpFailOpenRequest);
    const TransferLimits limits = TransferLimitsFor(request.timeouts);
    CancelToken* const cancel = CurrentCancelToken();

    return FollowRedirects(request, cancel, [&](const RedirectHop& hop) {
        RedirectHopResult out;
        if (hop.headerLinesChanged) {
            HeaderList changed;
            if (!BuildHeaderList(hop.headerLines, changed)) {
                out.response = HttpTransportFailure(kHttpFailOpenRequest);
                return out;
            }
            headers = std::move(changed);
        }
        Hop state;
        out.response = Exchange(hop.method, hop.target, hop.body, headers.get(), limits, cancel, state);
        out.location = std::move(state.location);
        out.complete = state.code == CURLE_OK;
        return out;
    });
}

}  // namespace TesselSDK
