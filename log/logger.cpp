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
    std::deque<std::string> queue;
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

void Logger::Log(int level, const std::string& message) {
    State& s = *state_;
    if (!s.running.load(std::memory_order_acquire)) return;
    try {
        std::string line = FormatLine(level, message);
        {
            std::lock_guard<std::mutex> lock(s.queueMutex);
            if (!s.running.load(std::memory_order_relaxed)) return;
            if (s.queue.size() >= kMaxQueuedLines) s.queue.pop_front();
            s.queue.push_back(std::move(line));
        }
        s.wake.notify_one();
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
        std::deque<std::string> batch;
        std::unique_lock<std::mutex> lock(s.queueMutex);
        while (s.running.load()) {
            s.wake.wait_for(lock, kWriterWait, [&s] { return !s.queue.empty() || !s.running.load(); });
            if (s.queue.empty()) continue;

            // Open first, take the lines after: a folder that cannot be opened
            // loses no line; they wait (capped) for the next attempt.
            lock.unlock();
            LogFile file{OpenLogFileForAppend(path)};
            lock.lock();
            if (!file) {
                s.wake.wait_for(lock, kWriterWait, [&s] { return !s.running.load(); });
                continue;
            }
            batch.swap(s.queue);
            lock.unlock();
            for (const std::string& line : batch) WriteLine(file.get(), line);
            batch.clear();
            file.reset();
            lock.lock();
        }

        // Stopped: write what was queued before the stop. No line can be
        // queued any more.
        if (s.queue.empty()) return;
        lock.unlock();
        LogFile file{OpenLogFileForAppend(path)};
        if (!file) return;
        lock.lock();
        batch.swap(s.queue);
        lock.unlock();
        for (const std::string& line : batch) WriteLine(file.get(), line);
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
    // The stamp up to the seconds changes once a second: each thread keeps
    // the one it made last.
    thread_local long long cachedSecond = -1;
    thread_local char cachedStamp[kStampCapacity];
    thread_local std::size_t cachedLength = 0;

    const long long nowMs = NowEpochMs();
    const long long second = nowMs / 1000;
    if (second != cachedSecond) {
        std::tm local{};
        BreakDownLocal(static_cast<std::time_t>(second), local);
        cachedLength = FormatStampToSeconds(local, cachedStamp);
        cachedSecond = second;
    }
    return ComposeLine(cachedStamp, cachedLength, static_cast<int>(nowMs % 1000), level, message);
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
