// Helpers for tests that drive a whole SDK object against the service double:
// a scripted configuration document, initialisation and the log file.
#pragma once

#include <functional>
#include <memory>
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

// The lines the current log file receives from its construction on (the
// logger may be shared by several tests of one program).
class LogWindow {
public:
    LogWindow() : path_(TesselSDK::Logger::Instance().CurrentLogFilePath()) {
        static int serial = 0;
        const std::string marker = "log-window-" + std::to_string(++serial) + "-begins";
        TesselSDK::LogMessage(TesselSDK::kLogInfo, marker);
        WaitUntil([&] {
            const auto lines = ReadLines(path_);
            for (size_t i = 0; i < lines.size(); ++i) {
                if (lines[i].find(marker) != std::string::npos) {
                    from_ = i + 1;
                    return true;
                }
            }
            return false;
        });
    }
    size_t Count(const std::string& needle) const {
        const auto lines = ReadLines(path_);
        size_t n = 0;
        for (size_t i = from_; i < lines.size(); ++i) n += lines[i].find(needle) != std::string::npos ? 1 : 0;
        return n;
    }
    // Waits until at least `count` lines hold `needle`.
    bool WaitFor(const std::string& needle, size_t count = 1) const {
        return WaitUntil([&] { return Count(needle) >= count; });
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    size_t from_ = 0;
};

}  // namespace testsupport
