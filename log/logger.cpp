#include "log/logger.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "log/env.h"
#include "log/log_paths.h"
#include "util/clock.h"
#include "util/keep_module_loaded.h"

namespace TesselSDK {
namespace {

const char kBanner[] = "<<<<< ---------------- TesselSDK Logger Initialized ---------------- >>>>>";
const auto kWriterWait = std::chrono::milliseconds(500);

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using LogFile = std::unique_ptr<std::FILE, FileCloser>;

void WriteLine(std::FILE* file, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fputc('\n', file);
}

// Clock counts handed out so far; each start gets a larger one than the one
// before, so two starts within one clock tick still get two files.
std::atomic<long long> g_lastClockCount{0};

long long NextClockCount(long long fromClock) {
    long long last = g_lastClockCount.load();
    long long next = fromClock;
    do {
        next = fromClock > last ? fromClock : last + 1;
    } while (!g_lastClockCount.compare_exchange_weak(last, next));
    return next;
}

// "[YYYY-MM-DD HH:MM:SS." of a local time into `out`; returns its length.
constexpr std::size_t kStampCapacity = 64;
std::size_t FormatStampToSeconds(const std::tm& local, char (&out)[kStampCapacity]) {
    const int n = std::snprintf(out, kStampCapacity, "[%d-%02d-%02d %02d:%02d:%02d.", local.tm_year + 1900,
                                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    if (n <= 0) return 0;
    return static_cast<std::size_t>(n) < kStampCapacity ? static_cast<std::size_t>(n) : kStampCapacity - 1;
}

// The stamp, the three digits of the milliseconds, the level and the message.
std::string ComposeLine(const char* stamp, std::size_t stampLength, int millis, int level,
                        const std::string& message) {
    const char* name = Logger::LevelName(level);
    const std::size_t nameLength = std::char_traits<char>::length(name);
    std::string line;
    line.reserve(stampLength + 3 + 3 + nameLength + 2 + message.size());
    line.append(stamp, stampLength);
    line.push_back(static_cast<char>('0' + millis / 100 % 10));
    line.push_back(static_cast<char>('0' + millis / 10 % 10));
    line.push_back(static_cast<char>('0' + millis % 10));
    line.append("] [", 3);
    line.append(name, nameLength);
    line.append("] ", 2);
    line.append(message);
    return line;
}

// Whole lines from the time of a log call. The stamp up to the seconds
// changes once a second: the cache keeps the one it made last.
class LineFormatter {
public:
    std::string Line(long long epochMs, int level, const std::string& message) {
        const long long second = epochMs / 1000;
        if (second != second_) {
            std::tm local{};
            BreakDownLocal(static_cast<std::time_t>(second), local);
            stampLength_ = FormatStampToSeconds(local, stamp_);
            second_ = second;
        }
        return ComposeLine(stamp_, stampLength_, static_cast<int>(epochMs % 1000), level, message);
    }

private:
    long long second_ = -1;
    char stamp_[kStampCapacity] = {};
    std::size_t stampLength_ = 0;
};

// One log call as queued: the line is formatted by the writer.
struct QueuedLine {
    long long epochMs;
    int level;
    std::string message;
};

}  // namespace

struct Logger::State {
    // Serialises Init and Stop (and guards `path` and `writer`). Never taken
    // by Log or the writer, and never taken while `queueMutex` is held.
    std::mutex controlMutex;
    std::thread writer;
    std::string path;

    // Leaf lock: guards `queue`; `running` changes only while it is held.
    std::mutex queueMutex;
    std::condition_variable wake;
    std::deque<QueuedLine> queue;
    std::atomic<bool> running{false};
};

Logger::Logger() : state_(new State()) {}

// Never runs: the singleton lives until the process ends (see Instance).
Logger::~Logger() { delete state_; }

Logger& Logger::Instance() {
    // Deliberately never destroyed: threads of ours and the host may log while
    // the process exits, and a running writer must never be joined from a
    // static destructor (under the loader lock on Windows).
    static Logger* instance = new Logger();
    return *instance;
}

void Logger::Init() {
    State& s = *state_;
    try {
        std::lock_guard<std::mutex> control(s.controlMutex);
        if (s.running.load()) return;
        if (s.writer.joinable()) s.writer.join();  // a writer that failed to be joined earlier

        const std::string path = BuildLogFilePath();
        s.path = path;
        if (LogFile file{OpenLogFileForAppend(path)}) WriteLine(file.get(), kBanner);

        // The writer may outlive the host's use of the library.
        KeepModuleLoaded();
        {
            std::lock_guard<std::mutex> lock(s.queueMutex);
            s.running.store(true);
        }
        try {
            s.writer = std::thread([this, path] { WriterLoop(path); });
        } catch (...) {
            std::lock_guard<std::mutex> lock(s.queueMutex);
            s.running.store(false);
        }
    } catch (...) {
        // Logging is best effort; nothing may reach the caller.
    }
}

void Logger::Stop() {
    State& s = *state_;
    try {
        std::lock_guard<std::mutex> control(s.controlMutex);
        if (!s.running.load()) return;
        {
            // Cleared under the queue lock: the writer cannot miss the wake-up,
            // and no line is queued after its final drain.
            std::lock_guard<std::mutex> lock(s.queueMutex);
            s.running.store(false);
        }
        s.wake.notify_all();
        if (s.writer.joinable()) s.writer.join();
    } catch (...) {
    }
}

void Logger::Log(int level, std::string_view message) {
    State& s = *state_;
    if (!s.running.load(std::memory_order_acquire)) return;
    try {
        QueuedLine entry{NowEpochMs(), level, std::string(message)};
        bool wasEmpty = false;
        {
            std::lock_guard<std::mutex> lock(s.queueMutex);
            if (!s.running.load(std::memory_order_relaxed)) return;
            if (s.queue.size() >= kMaxQueuedLines) s.queue.pop_front();
            wasEmpty = s.queue.empty();
            s.queue.push_back(std::move(entry));
        }
        // The writer only waits for lines while the queue is empty, so only
        // the first line of a batch needs to wake it.
        if (wasEmpty) s.wake.notify_one();
    } catch (...) {
    }
}

bool Logger::IsRunning() const { return state_->running.load(); }

std::string Logger::CurrentLogFilePath() const {
    std::lock_guard<std::mutex> control(state_->controlMutex);
    return state_->path;
}

void Logger::WriterLoop(const std::string& path) {
    State& s = *state_;
    try {
        LineFormatter formatter;
        std::deque<QueuedLine> batch;
        std::unique_lock<std::mutex> lock(s.queueMutex);
        for (;;) {
            s.wake.wait_for(lock, kWriterWait, [&s] { return !s.queue.empty() || !s.running.load(); });
            // Once stopped, no line can be queued any more: this round writes
            // what is left, with one more try to open the file, and ends.
            const bool last = !s.running.load();
            if (!s.queue.empty()) {
                // Open first, take the lines after: a folder that cannot be
                // opened loses no line; they wait (capped) for the next attempt.
                lock.unlock();
                LogFile file{OpenLogFileForAppend(path)};
                lock.lock();
                if (file) {
                    batch.swap(s.queue);
                    lock.unlock();
                    for (const QueuedLine& entry : batch) {
                        WriteLine(file.get(), formatter.Line(entry.epochMs, entry.level, entry.message));
                    }
                    batch.clear();
                    file.reset();
                    lock.lock();
                } else if (!last) {
                    s.wake.wait_for(lock, kWriterWait, [&s] { return !s.running.load(); });
                }
            }
            if (last) return;
        }
    } catch (...) {
        // Nothing may leave the thread.
    }
}

const char* Logger::LevelName(int level) {
    switch (level) {
        case kLogWarn:
            return "WARN";
        case kLogError:
            return "ERROR";
        case kLogDebug:
            return "DEBUG";
        default:
            return "INFO";
    }
}

std::string Logger::FormatLineAt(int level, const std::string& message, const std::tm& local, int millis) {
    char stamp[kStampCapacity];
    const std::size_t length = FormatStampToSeconds(local, stamp);
    return ComposeLine(stamp, length, millis, level, message);
}

std::string Logger::FormatLine(int level, const std::string& message) {
    return LineFormatter().Line(NowEpochMs(), level, message);
}

std::string Logger::BuildLogFilePath() {
    std::string env = GetEnvVar("ENV");
    if (env == "ZEPH8") env = "SANDBOX";
    std::string game = GetEnvVar("game_id");
    if (game.empty()) game = "TesselSDK";

    const long long micros = std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    const long long clockCount = NextClockCount(micros * 10);
    std::tm local{};
    BreakDownLocal(static_cast<std::time_t>(micros / 1000000), local);

    const std::string directory = LogDirectory(WithTrailingSeparator(LogBaseFolder()), env, game);
    CreateDirectoryLevels(directory);
    return directory + LogFileName(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, clockCount);
}

void LogMessage(int level, const char* message) { Logger::Instance().Log(level, message != nullptr ? message : ""); }

}  // namespace TesselSDK
