// Helpers for tests that drive a whole SDK object against the service double:
// a scripted configuration document, initialisation and the log file.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/link_logic_impl.h"
#include "log/logger.h"
#include "tesselsdk/link_logic.h"
#include "test_support.h"

namespace testsupport {

// A configuration naming the double's TURN service and notification endpoint.
inline nlohmann::json SessionConfig() {
    const std::string base = ServerUrl();
    return {{"virivizar_ss", {{"ws", {{"kr", "signal.test.invalid"}}}}},
            {"virivizar_turn", {{"api", {{"kr", base + "/turn"}}}}},
            {"virivizar_event", {{"api", {{"kr", base + "/event/v1.0/notify"}}}}},
            {"virivizar_windows_events", {{"api", {{"kr", base + "/windows-events"}}}}}};
}

// Deletes the object through the class interface.
struct LogicDeleter {
    void operator()(TesselSDK::LinkLogic* logic) const { TesselSDK::LinkLogic::Destroy(logic); }
};
using LogicPtr = std::unique_ptr<TesselSDK::LinkLogic, LogicDeleter>;

inline LogicPtr MakeLogic(TesselSDK::PlatformInterface platform = {}) {
    return LogicPtr(TesselSDK::LinkLogic::Create("9.8.7", 3, std::move(platform)));
}

inline const std::string& StreamerIdOf(TesselSDK::LinkLogic* logic) {
    return static_cast<TesselSDK::LinkLogicImpl*>(logic)->StreamerId();
}

// Scripts `doc` as the LIVE configuration and initialises `logic` from it.
inline bool InitializeWith(TesselSDK::LinkLogic* logic, const nlohmann::json& doc) {
    AddRoute({{"path", LiveConfigPath()}, {"status", 200}, {"body", doc.dump()}});
    ScopedEnv gate("streaming_yn", "y");
    ScopedEnv env("ENV");
    bool ok = false;
    logic->Initialize([&ok](bool result) { ok = result; });
    return ok;
}

// The lines the logger writes from the window's construction on, seen
// through the logger's line sink.
class LogWindow {
public:
    LogWindow() {
        static int serial = 0;
        const std::string marker = "log-window-" + std::to_string(++serial) + "-begins";
        TesselSDK::LogMessage(TesselSDK::kLogInfo, marker);
        WaitUntil([&] {
            const auto lines = Seen(0);
            for (from_ = lines.size(); from_ > 0; --from_)
                if (lines[from_ - 1].find(marker) != std::string::npos) return true;
            return false;
        });
    }
    std::vector<std::string> Lines() const { return Seen(from_); }
    size_t Count(const std::string& needle) const {
        size_t n = 0;
        for (const std::string& line : Lines()) n += line.find(needle) != std::string::npos ? 1 : 0;
        return n;
    }
    // Waits until at least `count` lines hold `needle`.
    bool WaitFor(const std::string& needle, size_t count = 1) const {
        return WaitUntil([&] { return Count(needle) >= count; });
    }

private:
    // Every line written since the program's first window, from line `first` on.
    static std::vector<std::string> Seen(size_t first) {
        struct Lines {
            std::mutex mutex;
            std::vector<std::string> all;
        };
        static Lines* seen = [] {
            auto* made = new Lines();  // never freed: the logger may still write at exit
            TesselSDK::Logger::Instance().SetLineSink([made](std::string_view line) {
                std::lock_guard<std::mutex> lock(made->mutex);
                made->all.emplace_back(line);
            });
            return made;
        }();
        std::lock_guard<std::mutex> lock(seen->mutex);
        return {seen->all.begin() + static_cast<std::ptrdiff_t>(std::min(first, seen->all.size())), seen->all.end()};
    }
    size_t from_ = 0;
};

}  // namespace testsupport
