#include "log/logger.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "log/env.h"
#include "log/log_file.h"
#include "log/log_paths.h"
#include "tesselsdk/tesselsdk.h"
#include "util/clock.h"
#include "util/keep_module_loaded.h"
#include "util/process_exit.h"
#include "util/process_id.h"
#include "util/worker_thread.h"

namespace TesselSDK {
namespace {

const char kBanner[] = "<<<<< ---------------- TesselSDK Logger Initialized ---------------- >>>>>";

// The writer's own period: lines wait at most this long for the file.
const auto kWriterPeriod = std::chrono::milliseconds(500);
// A queue this full wakes the writer before its period ends.
constexpr std::size_t kWakeLines = 2048;
constexpr std::size_t kWakeBytes = 256 * 1024;
// How long a caller facing a full queue waits for the writer to take it
// before its line is dropped (and the writer counts as not keeping up).
const auto kMaxCallerWait = std::chrono::milliseconds(500);
// How long the exit path waits, in all, for the writer's lock and for the
// append the writer is making, so that what follows comes after it.
const auto kMaxExitWait = std::chrono::seconds(2);
// The same where the platform ends the other threads before the exit path
// runs: the time a thread being ended may still take to stop.
const auto kExitSettle = std::chrono::milliseconds(20);

static_assert(kLogInfo == TESSELSDK_LOG_INFO && kLogWarn == TESSELSDK_LOG_WARN && kLogError == TESSELSDK_LOG_ERROR &&
                  kLogDebug == TESSELSDK_LOG_DEBUG,
              "LogLevel numbers are the C interface's");

// The name the log file shows; any other level is "INFO".
const char* LevelName(int level) {
    switch (level) {
        case kLogWarn: return "WARN";
        case kLogError: return "ERROR";
        case kLogDebug: return "DEBUG";
        default: return "INFO";
    }
}

// The line the file gets for `count` lines that were dropped.
std::string DroppedNotice(std::size_t count) { return std::to_string(count) + " log lines dropped"; }

// Formatted lines are appended to the file in pieces of about this size.
constexpr std::size_t kWriteChunk = 64 * 1024;

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

// The message with CR, LF and NUL written as "\r", "\n" and "\0": one call
// stays one whole line of the file, whatever the text holds.
void AppendEscaped(std::string& line, std::string_view message) {
    if (message.empty()) return;
    static constexpr char kSpecial[] = {'\n', '\r', '\0'};
    static constexpr char kWritten[] = {'n', 'r', '0'};
    constexpr std::size_t kKinds = sizeof(kSpecial);
    const char* at = message.data();
    const char* const end = at + message.size();
    const auto next = [end](const char* from, char c) {
        const void* hit = std::memchr(from, c, static_cast<std::size_t>(end - from));
        return hit != nullptr ? static_cast<const char*>(hit) : end;
    };
    // The next place of each kind from `at` on.
    const char* hits[kKinds];
    for (std::size_t k = 0; k < kKinds; ++k) hits[k] = next(at, kSpecial[k]);
    for (;;) {
        std::size_t first = 0;
        for (std::size_t k = 1; k < kKinds; ++k)
            if (hits[k] < hits[first]) first = k;
        const char* hit = hits[first];
        line.append(at, static_cast<std::size_t>(hit - at));
        if (hit == end) return;
        line.push_back('\\');
        line.push_back(kWritten[first]);
        at = hit + 1;
        hits[first] = next(at, kSpecial[first]);
    }
}

// The stamp, the three digits of the milliseconds, the level and the message,
// appended to `line`.
void ComposeLine(std::string& line, const char* stamp, std::size_t stampLength, int millis, int level,
                 std::string_view message) {
    const char* name = LevelName(level);
    const std::size_t nameLength = std::char_traits<char>::length(name);
    line.append(stamp, stampLength);
    line.push_back(static_cast<char>('0' + millis / 100 % 10));
    line.push_back(static_cast<char>('0' + millis / 10 % 10));
    line.push_back(static_cast<char>('0' + millis % 10));
    line.append("] [", 3);
    line.append(name, nameLength);
    line.append("] ", 2);
    AppendEscaped(line, message);
}

// Whole lines from the time of a log call. The stamp up to the seconds
// changes once a second: the cache keeps the one it made last.
class LineFormatter {
public:
    // Appends the line (without a line ending) to `line`.
    void Line(std::string& line, long long epochMs, int level, std::string_view message) {
        const long long second = epochMs / 1000;
        if (second != second_) {
            std::tm local{};
            BreakDownLocal(static_cast<std::time_t>(second), local);
            stampLength_ = FormatStampToSeconds(local, stamp_);
            second_ = second;
        }
        ComposeLine(line, stamp_, stampLength_, static_cast<int>(epochMs % 1000), level, message);
    }

private:
    long long second_ = -1;
    char stamp_[kStampCapacity] = {};
    std::size_t stampLength_ = 0;
};

// Log calls waiting for the writer, in one buffer: for each, a header (time,
// level, length) and the message bytes. The writer swaps the whole queue for
// an empty one and formats the lines itself; the two buffers swap back and
// forth, so a log call in steady use allocates nothing and touches little.
class Pending {
public:
    struct Header {
        long long epochMs;
        std::size_t length;
        int level;
        int unused;  // no padding: every byte copied is set
    };

    bool Empty() const { return lines_ == 0; }
    bool HasRoomFor(std::size_t length) const {
        return lines_ == 0 || (lines_ < Logger::kMaxQueuedLines &&
                               bytes_.size() + sizeof(Header) + length <= Logger::kMaxQueuedBytes);
    }
    bool PastWakeMark() const { return lines_ >= kWakeLines || bytes_.size() >= kWakeBytes; }
    void Append(long long epochMs, int level, std::string_view message) {
        const Header header{epochMs, message.size(), level, 0};
        const std::size_t before = bytes_.size();
        try {
            bytes_.append(reinterpret_cast<const char*>(&header), sizeof(header));
            bytes_.append(message.data(), message.size());
        } catch (...) {
            bytes_.resize(before);  // never half a line
            throw;
        }
        ++lines_;
    }
    std::size_t Lines() const { return lines_; }
    // Calls `each(header, message)` for every line, oldest first, while it
    // returns true.
    template <typename Each>
    void ForEach(Each each) const {
        std::size_t at = 0;
        while (bytes_.size() - at >= sizeof(Header)) {
            Header header;
            std::memcpy(&header, bytes_.data() + at, sizeof(header));
            at += sizeof(header);
            if (!each(header, std::string_view(bytes_.data() + at, header.length))) return;
            at += header.length;
        }
    }
    // Empties it; the memory a burst made it take is handed out once the
    // burst is over (the lines held fit a small part of it), for the caller
    // to give back (where it holds no lock).
    std::string Clear() {
        std::string taken;
        if (bytes_.capacity() > 2 * kWakeBytes && bytes_.size() < kWakeBytes) taken.swap(bytes_);
        bytes_.clear();
        lines_ = 0;
        return taken;
    }
    void Swap(Pending& other) noexcept {
        bytes_.swap(other.bytes_);
        std::swap(lines_, other.lines_);
    }

private:
    std::string bytes_;
    std::size_t lines_ = 0;
};

}  // namespace

// What a log call touches comes first, in as few cache lines as can be: a
// call at a game's pace finds them cold.
struct alignas(64) Logger::State {
    // Guarded by the writer's lock (`writer.Mutex()`), a leaf lock.
    Pending queue;
    bool wakeSent = false;      // the queue passed its wake mark since the writer took it
    bool fileUnusable = false;  // the writer's last open of the file failed
    bool writerBehind = false;  // a caller gave up waiting for the writer to take a full queue
    // Its lock guards the above; it counts the lines refused since it last
    // took the queue.
    WorkerThread writer;
    // Callers facing a full queue wait here.
    std::condition_variable room;
    std::string file;  // the file of the current (or last) start, under the writer's lock

    // Set while a thread changes the queue or the writer's batch under the
    // lock (never while it waits): where the platform may have ended a thread
    // holding the lock, the exit path trusts what it finds only when clear.
    std::atomic<bool> changing{false};
    struct Changing {
        explicit Changing(State& s) : s_(s) { s_.changing.store(true, std::memory_order_relaxed); }
        ~Changing() { s_.changing.store(false, std::memory_order_release); }
        Changing(const Changing&) = delete;
        Changing& operator=(const Changing&) = delete;
        State& s_;
    };

    // The process that started the logger: the exit path acts only there (a
    // forked child inherits the queue, and the lock as it was at the fork).
    std::atomic<long long> startedBy{0};

    // Serialises Init and Stop. Never taken by Log or the writer, and never
    // taken while the writer's lock is held.
    std::mutex controlMutex;

    // The optional line sink, read once per writing round.
    std::mutex sinkMutex;
    std::shared_ptr<const LineSink> sink;

    // With the lock held and the queue full: while the writer works, waits
    // for it to take the queue. False when the line is to be dropped.
    bool WaitForRoom(std::unique_lock<std::mutex>& lock, std::size_t length) {
        if (fileUnusable || writerBehind) return false;
        if (!wakeSent) {
            wakeSent = true;
            writer.WakeLocked();
            writer.Notify();
        }
        room.wait_for(lock, kMaxCallerWait, [&] {
            return !writer.RunningLocked() || fileUnusable || queue.HasRoomFor(length);
        });
        if (!writer.RunningLocked()) return false;
        if (queue.HasRoomFor(length)) return true;
        if (!fileUnusable) writerBehind = true;
        return false;
    }

    // The writer's buffers, kept from round to round. The writer changes
    // `batch` only under its lock, and `chunk` only while it appends none of
    // it: the exit path reads them.
    struct Buffers {
        LineFormatter formatter;
        Pending batch;      // the lines the writer took from the queue
        std::string chunk;  // the next lines of the batch, formatted
    } buffers;

    // How far the writer has got with its batch. The exit path writes the
    // rest from there: each line once, in order, whole.
    struct InFlight {
        // Under the lock:
        bool writing = false;     // the writer is writing `buffers.batch`
        std::size_t dropped = 0;  // lines dropped before the batch, said after its lines
        // Kept by the writer without the lock (it appends at its own pace):
        // the lines of the batch in the file (the dropped line counted last)
        // and the lines of `buffers.chunk` it is appending now, in one word
        // (Progress below), so that it never reads half changed.
        std::atomic<std::uint64_t> progress{0};
        std::atomic<long long> appendFrom{-1};  // the file's size before that append
        std::atomic<bool> taken{false};         // the exit path writes the rest: the writer appends no more
        void Reset() {
            writing = false;
            dropped = 0;
            progress.store(0);
            appendFrom.store(-1);
            taken.store(false);
        }
        static std::uint64_t Progress(std::uint64_t written, std::uint64_t appending) {
            return written << 32 | appending;
        }
        static std::size_t Written(std::uint64_t progress) { return static_cast<std::size_t>(progress >> 32); }
        static std::size_t Appending(std::uint64_t progress) { return static_cast<std::size_t>(progress & 0xffffffffu); }
    } inFlight;
    static_assert(Logger::kMaxQueuedLines < 0xffffffffu, "a batch's line count fits half the progress word");

    bool WriteRound(std::unique_lock<std::mutex>& lock, bool last, const std::string& path);
    // Appends the lines of `buffers.batch`, then the count of lines dropped
    // (when any), to `out`, a chunk at a time, until the exit path takes the rest.
    void WriteBatch(LogFile& out, const LineSink* lineSink);
    // For the exit path, under the lock or where no other thread is left,
    // with the writer's `progress` as last read once it could start no more
    // appends: the text of the lines it has not appended (the rest of a chunk
    // its append was cut in, the rest of its batch), then of the queue, which
    // it empties.
    std::string TakeUnwritten(std::uint64_t progress, long long fileSize);
};

Logger::Logger() : state_(new State()) {}

// Never runs: the singleton lives until the process ends (see Instance).
Logger::~Logger() { delete state_; }

Logger& Logger::Instance() {
    // Deliberately never destroyed: threads of ours and the host may log while
    // the process exits, and a running writer must never be joined from a
    // static destructor (under the loader lock on Windows). What it holds at
    // exit is written by the exit hook instead.
    static Logger* instance = new Logger();
    return *instance;
}

// Destroyed at process exit (return from main, exit; in a DLL, at process
// detach): the writer only wakes on its period, so the last lines would
// otherwise never reach the file.
struct Logger::ExitHook {
    ExitHook() = default;
    ExitHook(const ExitHook&) = delete;
    ExitHook& operator=(const ExitHook&) = delete;
    ~ExitHook() { Logger::Instance().WriteQueuedAtExit(); }
};

void Logger::WriteQueuedAtExit() {
    State& s = *state_;
    try {
        // In a forked child the queue and the lock are copies: none of its business.
        if (s.startedBy.load() != CurrentProcessId()) return;
        // In the DLL at process detach the system has ended the writer wherever
        // it stood; linked into a program, the hook runs before that.
        const bool othersMayBeGone = ProcessExitMayHaveEndedOurThreads();
        const auto deadline = std::chrono::steady_clock::now() + (othersMayBeGone ? kExitSettle : kMaxExitWait);
        const auto waiting = [&deadline] {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            return std::chrono::steady_clock::now() < deadline;
        };
        // A thread that holds the lock lets it go within moments, unless the
        // platform ended it meanwhile.
        std::unique_lock<std::mutex> lock(s.writer.Mutex(), std::try_to_lock);
        while (!lock.owns_lock() && waiting()) lock.try_lock();
        // Other threads are gone, one of them with the lock: what it guards is
        // whole unless that thread was changing it.
        if (!lock.owns_lock() && (!othersMayBeGone || s.changing.load(std::memory_order_acquire))) return;
        const auto nothingLeft = [&s] {
            return !s.inFlight.writing && s.queue.Empty() && s.writer.DroppedLocked() == 0;
        };
        if (nothingLeft()) return;
        if (s.inFlight.writing) s.inFlight.taken.store(true);
        // From here on the writer starts no append.
        std::uint64_t progress = s.inFlight.progress.load();
        const auto appending = [&progress] { return State::InFlight::Appending(progress) > 0; };
        if (!othersMayBeGone) {
            // A running writer finishes the append it is making.
            while (appending() && waiting()) progress = s.inFlight.progress.load();
            if (appending()) return;
        }
        // Neither the writer nor a caller can come between these lines and
        // the next ones.
        LogFile out(s.file);
        if (!out.IsOpen()) return;
        if (appending()) {
            // Where the system ended the writer in its append, that may still
            // be landing: the file's size tells how much of it did.
            const long long end = s.inFlight.appendFrom.load() + static_cast<long long>(s.buffers.chunk.size());
            while (out.Size() < end && waiting()) {
            }
        }
        out.Append(s.TakeUnwritten(progress, out.Size()));
    } catch (...) {
        // Nothing may leave an exit hook.
    }
}

std::string Logger::State::TakeUnwritten(std::uint64_t progress, long long fileSize) {
    std::string text;
    LineFormatter formatter;
    const auto add = [&](long long epochMs, int level, std::string_view message) {
        formatter.Line(text, epochMs, level, message);
        text.append(kLogLineEnd.data(), kLogLineEnd.size());
    };
    if (inFlight.writing) {
        std::size_t written = InFlight::Written(progress);
        if (const std::size_t appending = InFlight::Appending(progress)) {
            const std::string& chunk = buffers.chunk;
            const long long from = inFlight.appendFrom.load();
            const long long reached = from >= 0 && fileSize >= from ? fileSize - from : 0;
            text.append(chunk,
                        static_cast<std::size_t>(std::min<long long>(reached, static_cast<long long>(chunk.size()))),
                        std::string::npos);
            written += appending;
        }
        std::size_t index = 0;
        buffers.batch.ForEach([&](const Pending::Header& header, std::string_view message) {
            if (index++ >= written) add(header.epochMs, header.level, message);
            return true;
        });
        if (inFlight.dropped > 0 && written <= buffers.batch.Lines())
            add(NowEpochMs(), kLogWarn, DroppedNotice(inFlight.dropped));
        inFlight.progress.store(InFlight::Progress(buffers.batch.Lines() + 1, 0));
        inFlight.taken.store(true);
    }
    queue.ForEach([&](const Pending::Header& header, std::string_view message) {
        add(header.epochMs, header.level, message);
        return true;
    });
    queue.Clear();
    if (const std::size_t dropped = writer.TakeDroppedLocked())
        add(NowEpochMs(), kLogWarn, DroppedNotice(dropped));
    return text;
}

void Logger::Init() {
    State& s = *state_;
    try {
        std::lock_guard<std::mutex> control(s.controlMutex);
        if (s.writer.Running()) return;
        static const ExitHook exitHook;

        const std::string path = BuildLogFilePath();
        bool opened = false;
        {
            LogFile file(path);
            opened = file.IsOpen() && file.Append(std::string(kBanner).append(kLogLineEnd.data(), kLogLineEnd.size()));
        }

        // The writer may outlive the host's use of the library.
        KeepModuleLoaded();
        {
            std::lock_guard<std::mutex> lock(s.writer.Mutex());
            const State::Changing mark(s);
            s.queue.Clear();
            s.wakeSent = false;
            s.fileUnusable = !opened;
            s.writerBehind = false;
            s.file = path;
        }
        s.startedBy = CurrentProcessId();
        WorkerThread::Options options;
        options.name = "TesselSDK log";
        options.period = kWriterPeriod;
        s.writer.Start(options, [&s, path](std::unique_lock<std::mutex>& lock, bool last) {
            return s.WriteRound(lock, last, path);
        });
    } catch (...) {
        // Logging is best effort; nothing may reach the caller.
    }
}

void Logger::Stop() {
    State& s = *state_;
    try {
        std::lock_guard<std::mutex> control(s.controlMutex);
        s.writer.Stop();
    } catch (...) {
    }
}

void Logger::Log(int level, std::string_view message) {
    State& s = *state_;
    if (!s.writer.Running()) return;
    try {
        const long long epochMs = NowEpochMs();
        bool wakeWriter = false;
        {
            // At process exit on Windows the system may have ended the writer
            // while it held the lock (a plug-in's detach still logs then): the
            // line is dropped rather than the exiting thread held for ever.
            std::unique_lock<std::mutex> lock(s.writer.Mutex(), std::try_to_lock);
            if (!lock.owns_lock()) {
                if (ProcessExitMayHaveEndedOurThreads()) return;
                lock.lock();
            }
            if (!s.writer.RunningLocked()) return;
            if (!s.queue.HasRoomFor(message.size()) && !s.WaitForRoom(lock, message.size())) {
                if (s.writer.RunningLocked()) s.writer.CountDroppedLocked();
                return;
            }
            const State::Changing mark(s);
            s.queue.Append(epochMs, level, message);
            // The writer wakes on its own period; a filling queue wakes it
            // once, early (not while the file cannot be opened: that is
            // retried once a period).
            if (!s.wakeSent && s.queue.PastWakeMark()) {
                s.wakeSent = true;
                if (!s.fileUnusable) {
                    s.writer.WakeLocked();
                    wakeWriter = true;
                }
            }
        }
        if (wakeWriter) s.writer.Notify();
    } catch (...) {
    }
}

bool Logger::IsRunning() const { return state_->writer.Running(); }

std::string Logger::CurrentLogFilePath() const {
    std::lock_guard<std::mutex> lock(state_->writer.Mutex());
    return state_->file;
}

bool Logger::State::WriteRound(std::unique_lock<std::mutex>& lock, bool last, const std::string& path) {
    // Once stopped, no line can be queued any more: this round writes what is
    // left, with one more try to open the file.
    if (last) room.notify_all();
    // Once the exit path took the rest of a batch, the process is exiting:
    // the writer writes nothing more.
    if (inFlight.taken || (queue.Empty() && writer.DroppedLocked() == 0)) return true;
    // Open first, take the lines after: a file that cannot be opened loses no
    // line; they wait (capped) for the next try.
    lock.unlock();
    LogFile out(path);
    lock.lock();
    {
        const Changing mark(*this);
        if (!out.IsOpen()) {
            if (last) {
                // The final drain cannot write them: they are lost.
                queue.Clear();
                writer.TakeDroppedLocked();
            } else {
                fileUnusable = true;
                room.notify_all();
            }
            return true;
        }
        buffers.batch.Swap(queue);
        inFlight.Reset();
        inFlight.writing = true;
        inFlight.dropped = writer.TakeDroppedLocked();
        wakeSent = false;
        fileUnusable = false;
        writerBehind = false;
    }
    lock.unlock();
    room.notify_all();
    std::shared_ptr<const LineSink> lineSink;
    {
        std::lock_guard<std::mutex> sinkLock(sinkMutex);
        lineSink = sink;
    }
    WriteBatch(out, lineSink.get());
    lock.lock();
    // The exit path writes the rest of the batch (maybe once this thread has
    // let the lock go): it stays as it is.
    if (inFlight.taken) return true;
    std::string spent;
    {
        const Changing mark(*this);
        inFlight.Reset();
        spent = buffers.batch.Clear();
    }
    room.notify_all();
    if (spent.capacity() > 2 * kWakeBytes) {
        // Given back unlocked: freeing a large block takes a while.
        lock.unlock();
        std::string().swap(spent);
        lock.lock();
    }
    return true;
}

void Logger::State::WriteBatch(LogFile& out, const LineSink* lineSink) {
    std::string& chunk = buffers.chunk;
    std::size_t lines = 0;  // in `chunk`
    // Appends the chunk in one write, unless the exit path took the rest.
    // The exit path sets `taken` before it reads `progress`, the writer sets
    // `progress` before it reads `taken`: one of them sees the other.
    const auto append = [&] {
        const std::uint64_t before = inFlight.progress.load(std::memory_order_relaxed);
        inFlight.appendFrom.store(out.Size(), std::memory_order_relaxed);
        inFlight.progress.store(before + lines);
        if (inFlight.taken.load()) {
            inFlight.progress.store(before);
            return false;
        }
        out.Append(chunk);
        inFlight.progress.store(before + InFlight::Progress(lines, 0));
        chunk.clear();
        lines = 0;
        return true;
    };
    const auto put = [&](long long epochMs, int level, std::string_view message) {
        const std::size_t start = chunk.size();
        buffers.formatter.Line(chunk, epochMs, level, message);
        if (lineSink) (*lineSink)(std::string_view(chunk).substr(start));
        chunk.append(kLogLineEnd.data(), kLogLineEnd.size());
        ++lines;
        return chunk.size() < kWriteChunk || append();
    };
    bool going = true;
    buffers.batch.ForEach([&](const Pending::Header& header, std::string_view message) {
        return going = put(header.epochMs, header.level, message);
    });
    if (going && inFlight.dropped > 0) going = put(NowEpochMs(), kLogWarn, DroppedNotice(inFlight.dropped));
    if (going && lines > 0) append();
    chunk.clear();
    if (chunk.capacity() > 2 * kWriteChunk) std::string().swap(chunk);  // after a huge line
}

void Logger::SetLineSink(LineSink sink) {
    State& s = *state_;
    std::shared_ptr<const LineSink> next;
    if (sink) next = std::make_shared<const LineSink>(std::move(sink));
    std::lock_guard<std::mutex> lock(s.sinkMutex);
    s.sink = std::move(next);
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
