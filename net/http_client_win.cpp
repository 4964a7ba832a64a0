// The transport of the HTTP client on Windows: WinHTTP, synchronous, one
// session, connection and request per call, closed in reverse order.
#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "net/http_client.h"
#include "net/http_redirect_policy.h"
#include "net/http_text_widen.h"
#include "net/http_transport.h"
#include "net/http_url.h"
#include "util/cancel.h"
#include "util/text.h"

namespace TesselSDK {
namespace {

// One WinHTTP handle, closed when it goes out of scope. Declared in opening
// order (session, connection, request), so they close in reverse.
class WinHttpHandle {
public:
    explicit WinHttpHandle(HINTERNET handle) : handle_(handle) {}
    ~WinHttpHandle() {
        if (handle_ != nullptr) WinHttpCloseHandle(handle_);
    }
    WinHttpHandle(const WinHttpHandle&) = delete;
    WinHttpHandle& operator=(const WinHttpHandle&) = delete;
    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HINTERNET handle_;
};

std::wstring ToWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// WinHTTP's documented default for the wait for a response's headers. Set on
// every request that keeps the default timeouts, so that implementations
// without that default (Wine's) are bounded the same way.
constexpr DWORD kDefaultReceiveResponseMs = 90000;

// A request handle that another thread may close through a cancellation
// (util/cancel.h) until the response headers are in: closing it makes the
// blocking call in progress (send, or the wait for the answer) fail.
// Whichever comes first, the cancellation or the end of the exchange, closes
// it, exactly once.
class CancellableRequest {
public:
    CancellableRequest(HINTERNET handle, CancelToken* cancel) : handle_(handle) {
        if (handle_ != nullptr) hook_.reset(new CancelHook(cancel, [this] { CloseFromCancel(); }));
    }
    ~CancellableRequest() {
        Disarm();
        if (handle_ != nullptr && !closed_) WinHttpCloseHandle(handle_);
    }
    // From here on no cancellation touches the handle. False when one has
    // already closed it.
    bool Disarm() {
        hook_.reset();
        return !closed_;
    }
    CancellableRequest(const CancellableRequest&) = delete;
    CancellableRequest& operator=(const CancellableRequest&) = delete;
    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    // Runs under the token's lock, which the hook's removal also takes.
    void CloseFromCancel() {
        closed_ = true;
        WinHttpCloseHandle(handle_);
    }
    HINTERNET const handle_;
    bool closed_ = false;
    std::unique_ptr<CancelHook> hook_;
};

std::string ReadBody(HINTERNET request) {
    std::string body;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available) || available == 0) break;
        const size_t used = body.size();
        body.resize(used + available);
        DWORD read = 0;
        if (!WinHttpReadData(request, &body[used], available, &read)) read = 0;
        body.resize(used + read);
    }
    return body;
}

// The response's Location header, "" when it has none.
std::string ReadLocation(HINTERNET request) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                        WINHTTP_NO_HEADER_INDEX);
    if (size == 0) return std::string();
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return std::string();
    }
    return WideToUtf8(text.data());
}

// One request and its response on the open session, without following
// redirects; `location` receives the response's Location.
HttpTransportResult Exchange(HINTERNET session, const std::string& urlText, const std::string& method,
                             const std::vector<std::string>& headerLines, const std::string& body,
                             const HttpTimeouts& t, CancelToken* cancel, std::string& location) {
    if (cancel != nullptr && cancel->Cancelled()) return HttpTransportFailure(kHttpFailSendRequest);
    // URLs are widened from UTF-8 (header bytes are zero-extended below), so
    // non-ASCII text reaches the wire as the caller wrote it.
    const std::wstring url = ToWide(WidenUrl(urlText));
    // Room for the longest parts SplitHttpUrl accepts and the terminating NUL.
    std::vector<wchar_t> host(kHttpMaxHostUnits + 1, L'\0');
    std::vector<wchar_t> path(kHttpMaxPathUnits + 1, L'\0');
    URL_COMPONENTS components;
    ZeroMemory(&components, sizeof(components));
    components.dwStructSize = sizeof(components);
    components.lpszHostName = host.data();
    components.dwHostNameLength = static_cast<DWORD>(host.size());
    components.lpszUrlPath = path.data();
    components.dwUrlPathLength = static_cast<DWORD>(path.size());
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &components)) return HttpTransportFailure(kHttpFailParseUrl);

    WinHttpHandle connection(WinHttpConnect(session, host.data(), components.nPort, 0));
    if (!connection) return HttpTransportFailure(kHttpFailConnect);

    const std::wstring wideMethod = ToWide(WidenBytes(method));
    const DWORD flags = components.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    CancellableRequest req(WinHttpOpenRequest(connection.get(), wideMethod.c_str(), path.data(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags),
                           cancel);
    if (!req) return HttpTransportFailure(kHttpFailOpenRequest);
    // Redirects are followed by hand (see PerformHttpTransport).
    DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(req.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy, sizeof(redirectPolicy));
    // The receive timeout bounds the wait for the response as well. Some
    // WinHTTP implementations keep a separate, unlimited timeout for the
    // response headers unless it is set on the request. (0 stays "none".)
    DWORD receiveResponse = t.set ? static_cast<DWORD>(t.receiveMs) : kDefaultReceiveResponseMs;
    if (receiveResponse > 0) {
        WinHttpSetOption(req.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receiveResponse,
                         sizeof(receiveResponse));
    }

    // Each line on its own, added, never replacing an earlier one.
    for (const std::string& line : headerLines) {
        const std::wstring wide = ToWide(WidenBytes(line));
        WinHttpAddRequestHeaders(req.get(), wide.c_str(), static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD);
    }

    const DWORD length = static_cast<DWORD>(body.size());
    // WinHTTP only reads the optional data; its parameter is merely not const.
    LPVOID data = body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data());
    if (!WinHttpSendRequest(req.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, length, length, 0)) {
        return HttpTransportFailure(kHttpFailSendRequest);
    }
    if ((cancel != nullptr && cancel->Cancelled()) || !WinHttpReceiveResponse(req.get(), nullptr)) {
        return HttpTransportFailure(kHttpFailReceiveResponse);
    }
    // The headers are in: what follows is bounded by the receive timeout and
    // works on a handle that stays open (never one a cancellation closed).
    if (!req.Disarm()) return HttpTransportFailure(kHttpFailReceiveResponse);

    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    WinHttpQueryHeaders(req.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &statusSize, WINHTTP_NO_HEADER_INDEX);

    HttpTransportResult result;
    result.received = true;
    result.status = static_cast<int>(status);
    location = ReadLocation(req.get());
    result.body = ReadBody(req.get());
    return result;
}

std::string UrlOf(const HttpUrlParts& parts) {
    return (parts.secure ? "https://" : "http://") + parts.host + ":" + std::to_string(parts.port) +
           parts.pathAndQuery;
}

}  // namespace

HttpTransportResult PerformHttpTransport(const HttpTransportRequest& request) {
    WinHttpHandle session(
        WinHttpOpen(L"TesselSDK/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return HttpTransportFailure(kHttpFailOpenSession);
    const HttpTimeouts& t = request.timeouts;
    if (t.set) WinHttpSetTimeouts(session.get(), t.resolveMs, t.connectMs, t.sendMs, t.receiveMs);
    CancelToken* const cancel = CurrentCancelToken();

    // Redirects are followed here rather than by WinHTTP, which would carry
    // every header line, "Authorization" included, to whatever origin the
    // server names.
    const std::string noBody;
    std::string url = request.url;
    std::string method = request.method;
    const std::string* body = request.body;
    std::vector<std::string> headerLines = request.headerLines;
    HttpUrlParts parts = request.parts;
    bool authorizationDropped = false;
    for (int redirects = 0;; ++redirects) {
        std::string location;
        HttpTransportResult result = Exchange(session.get(), url, method, headerLines, *body, t, cancel, location);
        if (!result.received) return result;
        RedirectPlan plan = PlanRedirect(result.status, method, parts, location);
        if (plan.action == RedirectAction::Deliver) return result;
        if (plan.action == RedirectAction::Fail || redirects >= kHttpMaxRedirects) {
            return HttpTransportFailure(kHttpFailReceiveResponse);
        }
        if (plan.crossOrigin && !authorizationDropped) {
            authorizationDropped = true;
            headerLines = WithoutAuthorization(headerLines);
        }
        parts = std::move(plan.target);
        url = UrlOf(parts);
        method = std::move(plan.method);
        if (!plan.keepBody) body = &noBody;
    }
}

}  // namespace TesselSDK
