// The object's operations keep their own failures from the host, but let an
// exception of the host's own callbacks go back to the host unchanged. Host
// callbacks are called through CallHost (or PassingHostExceptions), which
// marks what they throw, so that Guarded tells the two apart.
#pragma once

#include <exception>
#include <functional>
#include <utility>

namespace TesselSDK {

// Carries an exception thrown by a host callback through our own code. Not
// derived from std::exception, so no handler of ours for that hierarchy
// takes it.
struct HostException {
    std::exception_ptr thrown;
};

// Calls a host callback, marking what it throws as the host's.
template <typename Callback, typename... Args>
decltype(auto) CallHost(const Callback& callback, Args&&... args) {
    try {
        return callback(std::forward<Args>(args)...);
    } catch (const HostException&) {
        throw;
    } catch (...) {
        throw HostException{std::current_exception()};
    }
}

// `callback` (which may be empty: it stays empty) with whatever it throws
// marked as the host's.
template <typename R, typename... Args>
std::function<R(Args...)> PassingHostExceptions(std::function<R(Args...)> callback) {
    if (!callback) return callback;
    return [callback = std::move(callback)](Args... args) -> R {
        return CallHost(callback, std::forward<Args>(args)...);
    };
}

// Runs one operation of the object for the host: a failure of ours ends
// here; the host's own exception leaves as the host threw it. Used once per
// operation, at the object's boundary.
template <typename Fn>
void Guarded(Fn&& fn) {
    try {
        fn();
    } catch (const HostException& host) {
        std::rethrow_exception(host.thrown);
    } catch (...) {
    }
}

}  // namespace TesselSDK
