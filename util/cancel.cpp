#include "util/cancel.h"

#include <utility>

namespace TesselSDK {
namespace {

thread_local CancelToken* g_currentToken = nullptr;

}  // namespace

void CancelToken::Cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_.exchange(true, std::memory_order_acq_rel)) return;
    for (auto& action : actions_) {
        try {
            action();
        } catch (...) {
            // An interruption that fails leaves the transfer to its own timeouts.
        }
    }
}

CancelHook::CancelHook(CancelToken* token, std::function<void()> action) {
    if (token == nullptr) return;
    std::lock_guard<std::mutex> lock(token->mutex_);
    if (token->Cancelled()) {
        action();
        return;
    }
    entry_ = token->actions_.insert(token->actions_.end(), std::move(action));
    token_ = token;
}

CancelHook::~CancelHook() {
    if (token_ == nullptr) return;
    std::lock_guard<std::mutex> lock(token_->mutex_);
    token_->actions_.erase(entry_);
}

CancelToken* CurrentCancelToken() { return g_currentToken; }

CancelScope::CancelScope(CancelToken* token) : previous_(g_currentToken) { g_currentToken = token; }

CancelScope::~CancelScope() { g_currentToken = previous_; }

}  // namespace TesselSDK
