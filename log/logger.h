// Process-wide file logger: callers queue, one writer thread formats and
// appends, waking on its own period (or early when the queue fills up).
//
// The singleton is created on first use and never destroyed, so it may be
// called from any thread at any time, also while the process exits or after
// the host has asked to unload the library. At process exit (return from
// main, exit) the lines the writer has not yet written are written all the
// same, by the process that started the logger.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace TesselSDK {

enum LogLevel { kLogInfo = 0, kLogWarn = 1, kLogError = 2, kLogDebug = 3 };

class Logger {
public:
    // Bounds of the lines waiting for the writer. A call that finds them
    // reached waits while the writer is working for it to take them; while
    // the file cannot be opened, or the writer does not take them in time,
    // the line is dropped, and the file gets "N log lines dropped" once it
    // can be written again.
    static constexpr std::size_t kMaxQueuedLines = 10000;
    static constexpr std::size_t kMaxQueuedBytes = 4 * 1024 * 1024;

    static Logger& Instance();

    // Starts the logger with a new file unless it runs. Never throws.
    void Init();
    // Stops a running logger; every line logged before returns is in the file
    // (when the file can be opened). Never throws.
    void Stop();
    // Queues one line, stamped with the time of the call, while the logger
    // runs; dropped otherwise. Callable from any thread. Never throws.
    // CR, LF and NUL inside the message are written as "\r", "\n" and "\0":
    // one call is one whole line of the file.
    void Log(int level, std::string_view message);

    bool IsRunning() const;
    // Path of the file of the current (or last) start; empty before the first Init.
    std::string CurrentLogFilePath() const;

    // While set, also hands every line the writer writes to the file
    // ("[YYYY-MM-DD HH:MM:SS.mmm] [LEVEL] message", without the line ending)
    // to `sink`, on the writer's thread, in the file's order. An empty
    // function removes it; a round already writing may still call the one
    // it found. For tests: log calls cost the same with or without it.
    using LineSink = std::function<void(std::string_view line)>;
    void SetLineSink(LineSink sink);
    // A new file path below the user's local data folder; creates its folders.
    static std::string BuildLogFilePath();

private:
    Logger();
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;
    // Writes at process exit what the writer has not yet written.
    void WriteQueuedAtExit();
    struct ExitHook;
    struct State;
    State* state_;
};

// The SDK core's log call. A null `message` logs an empty one.
void LogMessage(int level, const char* message);
// The whole text, NULs included.
inline void LogMessage(int level, const std::string& message) { Logger::Instance().Log(level, message); }

}  // namespace TesselSDK
