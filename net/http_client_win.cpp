// The transport of the HTTP client on Windows: WinHTTP in asynchronous mode,
// driven step by step from the calling thread, which waits for each step's
// completion. One session per call, one connection and request per exchange.
//
// Asynchronous mode is what makes a transfer cancellable everywhere: a
// cancellation wakes the wait, and the calling thread closes the request,
// which ends the step in progress. (A synchronous call blocked inside WinHTTP
// does not end on every implementation when another thread closes its
// handle.) The calling thread then waits until WinHTTP reports the request
// handle closing, after which no status callback for it runs any more; after
// a cancellation only briefly (see AsyncRequest).
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
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
#include "util/keep_module_loaded.h"
#include "util/text.h"

namespace TesselSDK {
namespace {

// A Win32 or WinHTTP handle, closed when it goes out of scope. WinHTTP
// handles are declared in opening order (session, connection), so they close
// in reverse.
class ScopedHandle {
public:
    using Closer = BOOL(WINAPI*)(HANDLE);
    ScopedHandle(HANDLE handle, Closer close) : handle_(handle), close_(close) {}
    ~ScopedHandle() {
        if (handle_ != nullptr) close_(handle_);
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HANDLE handle_;
    Closer close_;
};

class WinHttpHandle : public ScopedHandle {
public:
    explicit WinHttpHandle(HINTERNET handle) : ScopedHandle(handle, WinHttpCloseHandle) {}
};

class Event : public ScopedHandle {
public:
    explicit Event(bool manualReset)
        : ScopedHandle(CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr), CloseHandle) {}
};

std::wstring ToWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// WinHTTP's documented default for the wait for a response's headers. Set on
// every request that keeps the default timeouts, so that implementations
// without that default (Wine's) are bounded the same way.
constexpr DWORD kDefaultReceiveResponseMs = 90000;

// How long a cancelled request waits for WinHTTP to finish closing it before
// leaving the rest to WinHTTP (see AsyncRequest).
constexpr DWORD kCancelledCloseWaitMs = 100;

// The body is read in pieces of at most this many bytes, so a buffer is never
// larger than what one read can bring.
constexpr DWORD kReadPieceBytes = 64 * 1024;

// More than any implementation holds ready to read: an availability answer
// beyond it is not data (Wine answers 0xFFFFFFFF for headers cut short, and
// faults when asked to read that) and is taken as a failed read.
constexpr DWORD kMaxPlausibleAvailable = 64 * 1024 * 1024;

// Reads in a row that bring no byte before the body is given up: after a
// failed read the next availability query decides, but an implementation may
// keep offering data it cannot deliver.
constexpr int kMaxFruitlessReads = 4;

enum class StepOutcome { Done, Failed, Cancelled };
enum class ReadOutcome { More, End, Cancelled };

// What a request's status callback reports into, and what WinHTTP may still
// use after a cancellation: the request body it sends and the buffer it
// reads into. Shared by the calling thread and the callback, each holding a
// reference; the last to let go deletes it.
class RequestState {
public:
    explicit RequestState(const std::string& body)
        : stepDone(false), closing(true), cancelled(true), requestBody(body) {}
    RequestState(const RequestState&) = delete;
    RequestState& operator=(const RequestState&) = delete;

    void AddRef() { refs_.fetch_add(1, std::memory_order_relaxed); }
    void Release() {
        if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }

    Event stepDone;   // auto-reset: one completion per step
    Event closing;    // the handle is closing; no callback follows
    Event cancelled;  // set by the cancel hook, and stays set
    // Written by the callback before it sets stepDone, read after the wait.
    bool succeeded = false;
    DWORD value = 0;
    const std::string requestBody;
    std::vector<char> buffer;

private:
    ~RequestState() = default;
    std::atomic<int> refs_{1};
};

// One asynchronous WinHTTP request, driven from the calling thread: a step
// starts an operation and waits until the status callback reports its
// completion or a cancellation (util/cancel.h) wakes the wait. Only the
// calling thread closes the handle. The destructor closes it and waits for
// WinHTTP to report it closing, after which no callback for it runs. When a
// cancellation ended the exchange and WinHTTP does not finish closing the
// handle promptly (some implementations let a blocked socket call run to its
// timeout), the state is left to WinHTTP, which frees it through the
// callback; only that state, never anything of the caller's, is touched then.
class AsyncRequest {
public:
    AsyncRequest(HINTERNET connection, const wchar_t* method, const wchar_t* path, DWORD flags,
                 const std::string& body, CancelToken* cancel)
        : state_(new RequestState(body)) {
        if (!state_->stepDone || !state_->closing || !state_->cancelled) return;
        // Before any handle: past here nothing throws.
        const HANDLE cancelled = state_->cancelled.get();
        hook_.reset(new CancelHook(cancel, [cancelled] { SetEvent(cancelled); }));
        handle_ = WinHttpOpenRequest(connection, method, path, nullptr, WINHTTP_NO_REFERER,
                                     WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
        if (handle_ == nullptr) return;
        // The context first: a callback without it could not be told apart.
        DWORD_PTR context = this->context();
        if (!WinHttpSetOption(handle_, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context))) return;
        const DWORD notifications = WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES;
        if (WinHttpSetStatusCallback(handle_, &AsyncRequest::OnStatus, notifications, 0) ==
            WINHTTP_INVALID_STATUS_CALLBACK) {
            return;
        }
        // The handle's reference, given up when it reports closing.
        state_->AddRef();
        callbackSet_ = true;
    }
    ~AsyncRequest() {
        hook_.reset();
        if (handle_ != nullptr) {
            WinHttpCloseHandle(handle_);
            if (callbackSet_ && WaitForSingleObject(state_->closing.get(), cancelled_ ? kCancelledCloseWaitMs
                                                                                      : INFINITE) != WAIT_OBJECT_0) {
                // WinHTTP calls back into this module later: it must stay.
                KeepModuleLoaded();
            }
        }
    }
    AsyncRequest(const AsyncRequest&) = delete;
    AsyncRequest& operator=(const AsyncRequest&) = delete;

    // Ready for its steps: opened, with the status callback in place.
    bool Ready() const { return callbackSet_; }
    HINTERNET get() const { return handle_; }
    DWORD_PTR context() const { return reinterpret_cast<DWORD_PTR>(state_.get()); }
    const std::string& body() const { return state_->requestBody; }

    // Starts a step with `start` (a WinHTTP call returning BOOL) and waits
    // for its completion. `value` receives what the completion carries (the
    // bytes available or read).
    template <typename Start>
    StepOutcome Step(Start start, DWORD& value) {
        if (WaitForSingleObject(state_->cancelled.get(), 0) == WAIT_OBJECT_0) return Cancelled();
        if (!start()) return StepOutcome::Failed;
        const HANDLE waits[2] = {state_->stepDone.get(), state_->cancelled.get()};
        // A completion already in counts before a cancellation (lower index).
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) return Cancelled();
        value = state_->value;
        return state_->succeeded ? StepOutcome::Done : StepOutcome::Failed;
    }

    // Asks what is available and reads a piece of it into `body`. A failed
    // read appends nothing and leaves the next availability query to decide:
    // End comes when that query fails or reports nothing.
    // At most `room` bytes (more than 0) are appended.
    ReadOutcome ReadSome(std::string& body, std::size_t room) {
        DWORD available = 0;
        StepOutcome outcome = Step([this] { return WinHttpQueryDataAvailable(handle_, nullptr); }, available);
        if (outcome == StepOutcome::Cancelled) return ReadOutcome::Cancelled;
        if (outcome == StepOutcome::Failed || available == 0) return ReadOutcome::End;
        if (available > kMaxPlausibleAvailable) return ReadOutcome::More;
        DWORD piece = available < kReadPieceBytes ? available : kReadPieceBytes;
        if (piece > room) piece = static_cast<DWORD>(room);
        std::vector<char>& buffer = state_->buffer;
        buffer.resize(piece);
        DWORD read = 0;
        outcome = Step([this, &buffer, piece] { return WinHttpReadData(handle_, buffer.data(), piece, nullptr); },
                       read);
        if (outcome == StepOutcome::Cancelled) return ReadOutcome::Cancelled;
        if (outcome == StepOutcome::Done) body.append(buffer.data(), read < piece ? read : piece);
        return ReadOutcome::More;
    }

private:
    StepOutcome Cancelled() {
        cancelled_ = true;
        return StepOutcome::Cancelled;
    }

    static void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
        RequestState* const state = reinterpret_cast<RequestState*>(context);
        if (state == nullptr) return;
        switch (status) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            Complete(*state, true, 0);
            break;
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
            // An answer without its count is one that cannot be read.
            Complete(*state, true, info != nullptr && length >= sizeof(DWORD) ? *static_cast<DWORD*>(info) : MAXDWORD);
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            Complete(*state, true, length);
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            Complete(*state, false, 0);
            break;
        case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
            SetEvent(state->closing.get());
            state->Release();
            break;
        default:
            break;
        }
    }
    static void Complete(RequestState& state, bool succeeded, DWORD value) {
        state.succeeded = succeeded;
        state.value = value;
        SetEvent(state.stepDone.get());
    }

    struct ReleaseState {
        void operator()(RequestState* state) const { state->Release(); }
    };
    // Declared first: released last, once the handle is closed.
    std::unique_ptr<RequestState, ReleaseState> state_;
    HINTERNET handle_ = nullptr;
    bool callbackSet_ = false;
    bool cancelled_ = false;
    std::unique_ptr<CancelHook> hook_;
};

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

// ASCII letters in either case are one; brackets around an IPv6 literal are
// not part of the host.
bool SameHost(std::wstring a, std::wstring b) {
    const auto unbracket = [](std::wstring& host) {
        if (host.size() >= 2 && host.front() == L'[' && host.back() == L']') host = host.substr(1, host.size() - 2);
    };
    const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    unbracket(a);
    unbracket(b);
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](wchar_t x, wchar_t y) { return lower(x) == lower(y); });
}

// One request and its response on the open session, without following
// redirects; `location` receives the response's Location.
HttpTransportResult Exchange(HINTERNET session, const HttpUrlParts& parts, const std::string& method,
                             const std::vector<std::string>& headerLines, const std::string& body,
                             const HttpTimeouts& t, CancelToken* cancel, std::string& location) {
    // The URL is made from the checked parts alone, never taken as the caller
    // wrote it: WinHTTP's parser reads some URLs ("http://a#@b/") otherwise.
    // It is widened from UTF-8 (header bytes are zero-extended below), so
    // non-ASCII text reaches the wire as the caller wrote it.
    const std::string urlText = HttpOrigin(parts) + HttpRequestTarget(parts);
    const bool utf8 = IsValidUtf8(urlText);
    const auto widen = [utf8](const std::string& text) { return ToWide(utf8 ? WidenUrl(text) : WidenBytes(text)); };
    const std::wstring url = widen(urlText);
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
    // The connection goes where the checks read: should WinHTTP read another
    // scheme, host or port even here, nothing is sent.
    if ((components.nScheme == INTERNET_SCHEME_HTTPS) != parts.secure || components.nPort != parts.port ||
        !SameHost(host.data(), widen(parts.host))) {
        return HttpTransportFailure(kHttpFailParseUrl);
    }

    WinHttpHandle connection(WinHttpConnect(session, host.data(), components.nPort, 0));
    if (!connection) return HttpTransportFailure(kHttpFailConnect);

    const std::wstring wideMethod = ToWide(WidenBytes(method));
    const DWORD flags = components.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    AsyncRequest req(connection.get(), wideMethod.c_str(), path.data(), flags, body, cancel);
    if (!req.Ready()) return HttpTransportFailure(kHttpFailOpenRequest);
    // Redirects are followed by hand (see PerformHttpTransport); a request
    // that WinHTTP would follow on its own is not sent.
    DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (!WinHttpSetOption(req.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy, sizeof(redirectPolicy))) {
        return HttpTransportFailure(kHttpFailOpenRequest);
    }
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

    // The request's own copy of the body, which lives as long as WinHTTP may
    // read it. WinHTTP only reads it; its parameter is merely not const.
    const std::string& sent = req.body();
    const DWORD length = static_cast<DWORD>(sent.size());
    LPVOID data = sent.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(sent.data());
    DWORD unused = 0;
    const StepOutcome sendOutcome = req.Step(
        [&] {
            return WinHttpSendRequest(req.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, length, length,
                                      req.context());
        },
        unused);
    // Once under way, a cancelled exchange fails as the Linux transport's
    // does, whichever step it stopped in (some implementations already wait
    // for the answer while "sending").
    if (sendOutcome == StepOutcome::Cancelled) return HttpTransportFailure(kHttpFailReceiveResponse);
    if (sendOutcome != StepOutcome::Done) return HttpTransportFailure(kHttpFailSendRequest);
    if (req.Step([&] { return WinHttpReceiveResponse(req.get(), nullptr); }, unused) != StepOutcome::Done) {
        return HttpTransportFailure(kHttpFailReceiveResponse);
    }

    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    WinHttpQueryHeaders(req.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &statusSize, WINHTTP_NO_HEADER_INDEX);

    HttpTransportResult result;
    result.received = true;
    result.status = static_cast<int>(status);
    location = ReadLocation(req.get());
    // A failure mid-body delivers what arrived; a cancellation fails the whole.
    // A body that reaches the bound is cut there and delivered as it is (a
    // redirect is not followed); closing the request drops the rest.
    for (int fruitless = 0; fruitless < kMaxFruitlessReads;) {
        const std::size_t before = result.body.size();
        if (before >= kHttpMaxBodyBytes) {
            location.clear();
            break;
        }
        const ReadOutcome outcome = req.ReadSome(result.body, kHttpMaxBodyBytes - before);
        if (outcome == ReadOutcome::Cancelled) return HttpTransportFailure(kHttpFailReceiveResponse);
        if (outcome == ReadOutcome::End) break;
        fruitless = result.body.size() > before ? 0 : fruitless + 1;
    }
    return result;
}

}  // namespace

HttpTransportResult PerformHttpTransport(const HttpTransportRequest& request) {
    WinHttpHandle session(WinHttpOpen(L"TesselSDK/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (!session) return HttpTransportFailure(kHttpFailOpenSession);
    const HttpTimeouts& t = request.timeouts;
    if (t.set) WinHttpSetTimeouts(session.get(), t.resolveMs, t.connectMs, t.sendMs, t.receiveMs);
    CancelToken* const cancel = CurrentCancelToken();

    // Redirects are followed here rather than by WinHTTP, which would carry
    // every header line, "Authorization" included, to whatever origin the
    // server names.
    return FollowRedirects(request, cancel, [&](const RedirectHop& hop) {
        RedirectHopResult out;
        out.response =
            Exchange(session.get(), hop.target, hop.method, hop.headerLines, hop.body, t, cancel, out.location);
        return out;
    });
}

}  // namespace TesselSDK
