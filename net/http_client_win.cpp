// The transport of the HTTP client on Windows: WinHTTP, synchronous, one
// session, connection and request per call, closed in reverse order.
#include <windows.h>
#include <winhttp.h>

#include <string>
#include <vector>

#include "net/http_client.h"
#include "net/http_text_widen.h"
#include "net/http_transport.h"
#include "net/http_url.h"

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

}  // namespace

HttpTransportResult PerformHttpTransport(const HttpTransportRequest& request) {
    // URLs are widened from UTF-8 (header bytes are zero-extended below), so
    // non-ASCII text reaches the wire as the caller wrote it.
    const std::wstring url = ToWide(WidenUrl(request.url));
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

    WinHttpHandle session(
        WinHttpOpen(L"TesselSDK/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return HttpTransportFailure(kHttpFailOpenSession);

    const HttpTimeouts& t = request.timeouts;
    if (t.set) WinHttpSetTimeouts(session.get(), t.resolveMs, t.connectMs, t.sendMs, t.receiveMs);

    WinHttpHandle connection(WinHttpConnect(session.get(), host.data(), components.nPort, 0));
    if (!connection) return HttpTransportFailure(kHttpFailConnect);

    const std::wstring method = ToWide(WidenBytes(request.method));
    const DWORD flags = components.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    WinHttpHandle req(WinHttpOpenRequest(connection.get(), method.c_str(), path.data(), nullptr,
                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!req) return HttpTransportFailure(kHttpFailOpenRequest);
    if (t.set && t.receiveMs > 0) {
        // The receive timeout bounds the wait for the response as well. Some
        // WinHTTP implementations keep a separate, unlimited timeout for the
        // response headers unless it is set on the request. (0 stays "none".)
        DWORD receive = static_cast<DWORD>(t.receiveMs);
        WinHttpSetOption(req.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receive, sizeof(receive));
    }

    // Each line on its own, added, never replacing an earlier one.
    for (const std::string& line : request.headerLines) {
        const std::wstring wide = ToWide(WidenBytes(line));
        WinHttpAddRequestHeaders(req.get(), wide.c_str(), static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD);
    }

    const std::string& body = *request.body;
    const DWORD length = static_cast<DWORD>(body.size());
    // WinHTTP only reads the optional data; its parameter is merely not const.
    LPVOID data = body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data());
    if (!WinHttpSendRequest(req.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, length, length, 0)) {
        return HttpTransportFailure(kHttpFailSendRequest);
    }
    if (!WinHttpReceiveResponse(req.get(), nullptr)) return HttpTransportFailure(kHttpFailReceiveResponse);

    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    WinHttpQueryHeaders(req.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &statusSize, WINHTTP_NO_HEADER_INDEX);

    HttpTransportResult result;
    result.received = true;
    result.status = static_cast<int>(status);
    result.body = ReadBody(req.get());
    return result;
}

}  // namespace TesselSDK
