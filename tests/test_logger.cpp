#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "log/log_paths.h"
#include "log/logger.h"
#include "test_support.h"

using TesselSDK::Logger;
using testsupport::ReadLines;
using testsupport::ScopedEnv;
namespace fs = std::filesystem;

namespace {

using testsupport::DataFolder;

const char kBanner[] = "<<<<< ---------------- TesselSDK Logger Initialized ---------------- >>>>>";

// True when `text` has the shape of `pattern`, in which '#' stands for a digit.
bool HasShape(const std::string& text, const std::string& pattern) {
    if (text.size() != pattern.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == '#' ? !digit : text[i] != pattern[i]) return false;
    }
    return true;
}


// "LEVEL|message" of each line in the log line format; other lines as they are.
std::vector<std::string> Entries(const std::string& path) {
    std::vector<std::string> out;
    for (const std::string& line : ReadLines(path)) {
        const size_t levelEnd = line.find("] ", 27);
        if (line.size() > 26 && HasShape(line.substr(0, 27), "[####-##-## ##:##:##.###] [") && levelEnd != std::string::npos) {
            out.push_back(line.substr(27, levelEnd - 27) + "|" + line.substr(levelEnd + 2));
        } else {
            out.push_back(line);
        }
    }
    return out;
}

// Restarts the process-wide logger with a new file for the given folders.
std::string Restart(const std::string& env, const std::string& game) {
    ScopedEnv e("ENV", env);
    ScopedEnv g("game_id", game);
    Logger::Instance().Stop();
    Logger::Instance().Init();
    return Logger::Instance().CurrentLogFilePath();
}

}  // namespace

TEST(LogLine, StampLevelAndMessageAsTheFileHasThem) {
    const std::string path = Restart("LIFE", "g-line");
    std::vector<std::string> seen;  // only touched by the writer until Stop returns
    Logger::Instance().SetLineSink([&seen](std::string_view line) { seen.emplace_back(line); });
    // std::time reads a coarse clock that may trail the precise one by a
    // tick, so the bounds come from the same clock the logger reads.
    const auto secondsNow = [] { return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()); };
    const std::time_t before = secondsNow();
    const std::pair<int, const char*> calls[] = {
        {0, "hello"}, {1, "a\nb %s\r\n\n\r[x] \\"}, {2, "e"}, {3, ""}, {7, "m"}, {-1, "m"}, {4, "m"}};
    for (const auto& call : calls) TesselSDK::LogMessage(call.first, call.second);
    const std::time_t after = secondsNow();
    Logger::Instance().Stop();
    Logger::Instance().SetLineSink(nullptr);

    // CR and LF cannot start a line of their own.
    const std::vector<std::string> expected = {"] [INFO] hello", "] [WARN] a\\nb %s\\r\\n\\n\\r[x] \\",
                                               "] [ERROR] e",    "] [DEBUG] ",
                                               "] [INFO] m",     "] [INFO] m",
                                               "] [INFO] m"};
    ASSERT_EQ(expected.size(), seen.size());
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_TRUE(HasShape(seen[i].substr(0, 24), "[####-##-## ##:##:##.###")) << seen[i];
        EXPECT_EQ(expected[i], seen[i].substr(24));
        // The stamp is the local time of the call.
        bool matches = false;
        for (std::time_t t = before; t <= after; ++t) {
            char stamp[32];
            std::strftime(stamp, sizeof(stamp), "[%Y-%m-%d %H:%M:%S.", std::localtime(&t));
            matches = matches || seen[i].compare(0, 21, stamp) == 0;
        }
        EXPECT_TRUE(matches) << seen[i];
    }
    // The sink sees exactly what the file gets.
    seen.insert(seen.begin(), kBanner);
    EXPECT_EQ(seen, ReadLines(path));
}

TEST(LogPath, FileNameAndFolderLayoutThatCannotBeLeft) {
    using TesselSDK::LogDirectory;
    using TesselSDK::WithTrailingSeparator;
    EXPECT_EQ("TesselSDK_2026_1_5_17649876543210000.log", TesselSDK::LogFileName(2026, 1, 5, 17649876543210000LL));
    EXPECT_EQ("C:\\x\\Local/VIVIDOVURUZ3QA/logs/g1/", LogDirectory(WithTrailingSeparator("C:\\x\\Local"), "QA", "g1"));
    EXPECT_EQ("C:\\x\\VIVIDOVURUZ3/logs/g/", LogDirectory(WithTrailingSeparator("C:\\x\\"), "", "g"));
    EXPECT_EQ("VIVIDOVURUZ3DEV/logs/g/", LogDirectory(WithTrailingSeparator(""), "DEV", "g"));
    EXPECT_EQ("/d/VIVIDOVURUZ3.._.._x/logs/.._.._.._evil/", LogDirectory("/d/", "../../x", "../../../evil"));
    EXPECT_EQ("/d/VIVIDOVURUZ3_/logs/__/", LogDirectory("/d/", "/", ".."));
    EXPECT_EQ("/d/VIVIDOVURUZ3C__/logs/a_b_c_d/", LogDirectory("/d/", "C:\\", "a\\b/c:d"));
    EXPECT_EQ("my.game", TesselSDK::SafeFolderName("my.game"));
}

TEST(LogPath, BuildsFoldersForEnvironmentAndGame) {
    const std::string base = TesselSDK::WithTrailingSeparator(DataFolder());
    ASSERT_FALSE(base.empty());
    struct Case {
        const char* env;  // null: unset
        const char* game;
        std::string dir;
    } cases[] = {
        {"ZEPH8", "g-path", base + "VIVIDOVURUZ3SANDBOX/logs/g-path/"},
        {"zeph8", "g-path", base + "VIVIDOVURUZ3zeph8/logs/g-path/"},
        {"live", nullptr, base + "VIVIDOVURUZ3live/logs/TesselSDK/"},
        {nullptr, "", base + "VIVIDOVURUZ3/logs/TesselSDK/"},
    };
    std::string previous;
    for (const Case& c : cases) {
        std::unique_ptr<ScopedEnv> env(c.env ? new ScopedEnv("ENV", c.env) : new ScopedEnv("ENV"));
        std::unique_ptr<ScopedEnv> game(c.game ? new ScopedEnv("game_id", c.game) : new ScopedEnv("game_id"));
        const std::string path = Logger::BuildLogFilePath();
        ASSERT_EQ(c.dir, path.substr(0, c.dir.size())) << path;
        EXPECT_TRUE(fs::is_directory(c.dir)) << c.dir;
        const std::string name = path.substr(c.dir.size());
        const std::time_t now = std::time(nullptr);
        const std::tm* local = std::localtime(&now);
        const std::string datePart = "TesselSDK_" + std::to_string(local->tm_year + 1900) + "_" +
                                     std::to_string(local->tm_mon + 1) + "_" + std::to_string(local->tm_mday) + "_";
        ASSERT_EQ(datePart, name.substr(0, datePart.size())) << name;
        const std::string countPart = name.substr(datePart.size());
        ASSERT_TRUE(HasShape(countPart, "#################.log")) << name;
        // The clock count is the time in tenths of microseconds, new for every path.
        EXPECT_NEAR(static_cast<double>(now), static_cast<double>(std::stoll(countPart) / 10000000), 5.0);
        EXPECT_NE(previous, countPart);
        previous = countPart;
    }
}

#if !defined(_WIN32)
TEST(LogPath, LinuxDataFolderFallsBackToHome) {
    const std::string home = DataFolder() + "/fake-home";
    ScopedEnv homeEnv("HOME", home);
    for (const char* xdg : {static_cast<const char*>(nullptr), "relative/dir"}) {
        std::unique_ptr<ScopedEnv> set(xdg ? new ScopedEnv("XDG_DATA_HOME", xdg) : new ScopedEnv("XDG_DATA_HOME"));
        EXPECT_EQ(home + "/.local/share", TesselSDK::LogBaseFolder());
    }
    ScopedEnv xdg("XDG_DATA_HOME", "/abs/dir");
    EXPECT_EQ("/abs/dir", TesselSDK::LogBaseFolder());
}
#endif

TEST(Logger, OneFilePerStartWithOneBanner) {
    const std::string first = Restart("LIFE", "g-life");
    {
        ScopedEnv env("ENV", "OTHER");
        Logger::Instance().Init();  // already running: same file, no banner
    }
    EXPECT_EQ(first, Logger::Instance().CurrentLogFilePath());
    Logger::Instance().Stop();
    Logger::Instance().Stop();  // a second stop does nothing
    const std::string second = Restart("LIFE", "g-life");
    Logger::Instance().Stop();
    EXPECT_NE(first, second);
    for (const std::string& path : {first, second}) EXPECT_EQ(std::vector<std::string>{kBanner}, ReadLines(path));
}

TEST(Logger, WritesEveryLineLoggedWhileRunningAndNothingElse) {
    Logger::Instance().Stop();
    TesselSDK::LogMessage(0, "lost while stopped");
    const std::string path = Restart("LIFE", "g-drain");
    // A burst beyond the queue's bounds into a working folder: callers wait
    // for the writer instead of dropping.
    const int kBurst = 2 * static_cast<int>(Logger::kMaxQueuedLines) + 300;
    for (int i = 0; i < kBurst; ++i) TesselSDK::LogMessage(i % 4, "line " + std::to_string(i));
    TesselSDK::LogMessage(7, "multi\r\n[2026-01-01 00:00:00.000] [ERROR] forged");
    TesselSDK::LogMessage(2, nullptr);
    Logger::Instance().Stop();
    TesselSDK::LogMessage(0, "lost after stop");
    Logger::Instance().Init();  // a new file; the dropped lines never show up
    Logger::Instance().Stop();

    // Everything logged before Stop is in the file when it returns.
    const auto entries = Entries(path);
    ASSERT_EQ(static_cast<size_t>(kBurst + 3), entries.size());
    EXPECT_EQ(kBanner, entries[0]);
    const char* levels[] = {"INFO", "WARN", "ERROR", "DEBUG"};
    for (int i = 0; i < kBurst; ++i) {
        ASSERT_EQ(std::string(levels[i % 4]) + "|line " + std::to_string(i), entries[static_cast<size_t>(i) + 1]);
    }
    EXPECT_EQ("INFO|multi\\r\\n[2026-01-01 00:00:00.000] [ERROR] forged", entries[kBurst + 1]);
    EXPECT_EQ("ERROR|", entries[kBurst + 2]);
    EXPECT_EQ(std::vector<std::string>{kBanner}, ReadLines(Logger::Instance().CurrentLogFilePath()));
}

TEST(Logger, ConcurrentLoggingLosesNoLine) {
    const std::string path = Restart("LIFE", "g-threads");
    const int kThreads = 8;
    const int kLines = 2000;  // in all beyond the queue's bounds
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &go] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < kLines; ++i) TesselSDK::LogMessage(0, "t" + std::to_string(t) + " n" + std::to_string(i));
        });
    }
    // A start racing with the loggers must not lose or duplicate the file's lines either.
    std::thread control([] {
        for (int i = 0; i < 20; ++i) Logger::Instance().Init();
    });
    go = true;
    for (auto& th : threads) th.join();
    control.join();
    Logger::Instance().Stop();

    const auto entries = Entries(path);
    ASSERT_EQ(static_cast<size_t>(kThreads * kLines + 1), entries.size());
    EXPECT_EQ(kBanner, entries[0]);
    std::vector<int> next(kThreads, 0);
    for (size_t i = 1; i < entries.size(); ++i) {
        const int t = std::stoi(entries[i].substr(6));
        const int n = std::stoi(entries[i].substr(entries[i].find(" n") + 2));
        ASSERT_EQ(next[static_cast<size_t>(t)]++, n) << "thread " << t << " out of order";
    }
}

TEST(Logger, UnopenableFileDropsBeyondTheBoundsAndSaysHowMany) {
    const std::string path = Restart("LIFE", "g-blocked");
    // Make the path a folder: every open of the file fails.
    ASSERT_TRUE(fs::remove(path));
    ASSERT_TRUE(fs::create_directory(path));
    const int kExtra = 25;
    const int total = static_cast<int>(Logger::kMaxQueuedLines) + kExtra;
    for (int i = 0; i < total; ++i) TesselSDK::LogMessage(0, "q" + std::to_string(i));
    ASSERT_TRUE(fs::remove(path));

    // The writer retries on its own, and says what it could not keep.
    const std::string warning = "WARN|" + std::to_string(kExtra) + " log lines dropped";
    EXPECT_TRUE(testsupport::WaitUntil(
        [&] {
            const auto entries = fs::is_regular_file(path) ? Entries(path) : std::vector<std::string>{};
            return !entries.empty() && entries.back() == warning;
        },
        std::chrono::seconds(5)));
    TesselSDK::LogMessage(0, "after");
    Logger::Instance().Stop();
    const auto entries = Entries(path);
    ASSERT_EQ(Logger::kMaxQueuedLines + 2, entries.size());
    EXPECT_EQ("INFO|q0", entries.front());
    EXPECT_EQ("INFO|q" + std::to_string(Logger::kMaxQueuedLines - 1), entries[Logger::kMaxQueuedLines - 1]);
    EXPECT_EQ(warning, entries[Logger::kMaxQueuedLines]);
    EXPECT_EQ("INFO|after", entries.back());
}
