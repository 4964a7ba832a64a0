// Process-wide file logger: callers format and queue, one writer thread appends.
#pragma once

#include <string>

namespace TesselSDK {

enum LogLevel { kLogInfo = 0, kLogWarn = 1, kLogError = 2, kLogDebug = 3 };

class Logger {
public:
    static Logger& Instance();

    void Init();
    void Stop();
    void Log(int level, const std::string& message);

    bool IsRunning() const;
    // Path of the file of the current (or last) start; empty before the first Init.
    std::string CurrentLogFilePath() const;

    static std::string FormatLine(int level, const std::string& message);
    static std::string BuildLogFilePath();

private:
    Logger();
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;
    struct State;
    State* state_;
};

// The SDK core's log call. `message` must not be null.
void LogMessage(int level, const char* message);
inline void LogMessage(int level, const std::string& message) { LogMessage(level, message.c_str()); }

}  // namespace TesselSDK
