#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log/log_paths.h"
#include "log/logger.h"
#include "test_support.h"

using TesselSDK::Logger;
using testsupport::ReadLines;
using testsupport::ScopedEnv;
namespace fs = std::filesystem;

namespace {

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

struct LogLineParts {
    std::string stamp;  // "YYYY-MM-DD HH:MM:SS.mmm"
    std::string level;
    std::string message;
};

// Splits a line of the log line format; false for any other line.
bool ParseLine(const std::string& line, LogLineParts& parts) {
    const size_t stampEnd = line.find("] [");
    if (line.empty() || line[0] != '[' || stampEnd == std::string::npos) return false;
    const size_t levelEnd = line.find("] ", stampEnd + 3);
    if (levelEnd == std::string::npos) return false;
    parts.stamp = line.substr(1, stampEnd - 1);
    parts.level = line.substr(stampEnd + 3, levelEnd - stampEnd - 3);
    parts.message = line.substr(levelEnd + 2);
    const bool knownLevel =
        parts.level == "INFO" || parts.level == "WARN" || parts.level == "ERROR" || parts.level == "DEBUG";
    return knownLevel && HasShape(parts.stamp, "####-##-## ##:##:##.###");
}

// The user's local data folder as the test environment defines it.
std::string DataFolder() {
#if defined(_WIN32)
    return std::getenv("LOCALAPPDATA") ? std::getenv("LOCALAPPDATA") : "";
#else
    return std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
#endif
}

// The message part of each line that has the log line format.
std::vector<std::string> Messages(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    LogLineParts parts;
    for (const auto& line : lines)
        if (ParseLine(line, parts)) out.push_back(parts.message);
    return out;
}

int Count(const std::vector<std::string>& lines, const std::string& text) {
    int n = 0;
    for (const auto& line : lines) n += line == text ? 1 : 0;
    return n;
}

// Restarts the process-wide logger with a new file for the given folders.
std::string Restart(const std::string& env, const std::string& game) {
    ScopedEnv e("ENV", env);
    ScopedEnv g("game_id", game);
    Logger::Instance().Stop();
    Logger::Instance().Init();
    return Logger::Instance().CurrentLogFilePath();
}

std::tm MakeTm(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

}  // namespace

// --- Line format ------------------------------------------------------------------

TEST(LogLine, FormatsStampLevelAndMessage) {
    const std::tm t = MakeTm(2026, 3, 2, 9, 5, 3);
    EXPECT_EQ("[2026-03-02 09:05:03.007] [INFO] hello", Logger::FormatLineAt(0, "hello", t, 7));
    EXPECT_EQ("[2026-03-02 09:05:03.000] [WARN] w", Logger::FormatLineAt(1, "w", t, 0));
    EXPECT_EQ("[2026-03-02 09:05:03.999] [ERROR] e", Logger::FormatLineAt(2, "e", t, 999));
    EXPECT_EQ("[2026-03-02 09:05:03.010] [DEBUG] d", Logger::FormatLineAt(3, "d", t, 10));
    EXPECT_EQ("[2026-12-31 23:59:59.123] [INFO] ", Logger::FormatLineAt(0, "", MakeTm(2026, 12, 31, 23, 59, 59), 123));
    // The year is never padded.
    EXPECT_EQ("[987-01-05 00:00:00.000] [INFO] x", Logger::FormatLineAt(0, "x", MakeTm(987, 1, 5, 0, 0, 0), 0));
}

TEST(LogLine, UnknownLevelsAreInfoAndMessagesStayUnchanged) {
    const std::tm t = MakeTm(2026, 3, 2, 9, 5, 3);
    for (int level : {7, -1, 4, 1000}) EXPECT_EQ("[2026-03-02 09:05:03.007] [INFO] m", Logger::FormatLineAt(level, "m", t, 7));
    EXPECT_EQ("[2026-03-02 09:05:03.007] [WARN] a\nb %s %n \"q\"",
              Logger::FormatLineAt(1, "a\nb %s %n \"q\"", t, 7));
    const std::string longMessage(5000, 'x');
    EXPECT_EQ("[2026-03-02 09:05:03.007] [INFO] " + longMessage, Logger::FormatLineAt(0, longMessage, t, 7));
}

TEST(LogLine, NowUsesTheLocalWallClock) {
    const std::time_t before = std::time(nullptr);
    const std::string line = Logger::FormatLine(2, "now");
    const std::time_t after = std::time(nullptr);
    LogLineParts parts;
    ASSERT_TRUE(ParseLine(line, parts)) << line;
    EXPECT_EQ("ERROR", parts.level);
    EXPECT_EQ("now", parts.message);
    bool matches = false;
    for (std::time_t t = before; t <= after; ++t) {
        char stamp[32];
        std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", std::localtime(&t));
        matches = matches || line.compare(1, 19, stamp) == 0;
    }
    EXPECT_TRUE(matches) << line;
}

// --- File path and folders -----------------------------------------------------------

TEST(LogPath, FileNameAndFolderLayout) {
    EXPECT_EQ("TesselSDK_2026_1_5_17649876543210000.log", TesselSDK::LogFileName(2026, 1, 5, 17649876543210000LL));
    EXPECT_EQ("TesselSDK_2026_12_31_1.log", TesselSDK::LogFileName(2026, 12, 31, 1));
    EXPECT_EQ("C:\\Users\\u\\AppData\\Local/VIVIDOVURUZ3QA/logs/g1/",
              TesselSDK::LogDirectory(TesselSDK::WithTrailingSeparator("C:\\Users\\u\\AppData\\Local"), "QA", "g1"));
    EXPECT_EQ("C:\\x\\VIVIDOVURUZ3/logs/TesselSDK/",
              TesselSDK::LogDirectory(TesselSDK::WithTrailingSeparator("C:\\x\\"), "", "TesselSDK"));
    EXPECT_EQ("/d/VIVIDOVURUZ3live/logs/g/", TesselSDK::LogDirectory(TesselSDK::WithTrailingSeparator("/d/"), "live", "g"));
    EXPECT_EQ("VIVIDOVURUZ3DEV/logs/g/", TesselSDK::LogDirectory(TesselSDK::WithTrailingSeparator(""), "DEV", "g"));
}

TEST(LogPath, NamesCannotLeaveTheLogFolder) {
    EXPECT_EQ("/d/VIVIDOVURUZ3.._.._x/logs/.._.._.._evil/",
              TesselSDK::LogDirectory("/d/", "../../x", "../../../evil"));
    EXPECT_EQ("/d/VIVIDOVURUZ3_/logs/__/", TesselSDK::LogDirectory("/d/", "/", ".."));
    EXPECT_EQ("/d/VIVIDOVURUZ3C__/logs/a_b_c_d/", TesselSDK::LogDirectory("/d/", "C:\\", "a\\b/c:d"));
    EXPECT_EQ("_", TesselSDK::SafeFolderName("."));
    EXPECT_EQ("___", TesselSDK::SafeFolderName(".. "));
    EXPECT_EQ("my.game", TesselSDK::SafeFolderName("my.game"));
    EXPECT_EQ("caf\xC3\xA9", TesselSDK::SafeFolderName("caf\xC3\xA9"));
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
        // The clock count is the time in tenths of microseconds.
        const long long count = std::stoll(countPart);
        EXPECT_NEAR(static_cast<double>(now), static_cast<double>(count / 10000000), 5.0);
    }
}

TEST(LogPath, EveryPathIsNew) {
    ScopedEnv env("ENV", "T");
    ScopedEnv game("game_id", "g-unique");
    std::string previous;
    for (int i = 0; i < 50; ++i) {
        const std::string path = Logger::BuildLogFilePath();
        EXPECT_NE(previous, path);
        previous = path;
    }
}

#if !defined(_WIN32)
TEST(LogPath, LinuxDataFolderFallsBackToHome) {
    const std::string home = DataFolder() + "/fake-home";
    ScopedEnv homeEnv("HOME", home);
    {
        ScopedEnv xdg("XDG_DATA_HOME");
        EXPECT_EQ(home + "/.local/share", TesselSDK::LogBaseFolder());
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", "relative/dir");
        EXPECT_EQ(home + "/.local/share", TesselSDK::LogBaseFolder());
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", "/abs/dir");
        EXPECT_EQ("/abs/dir", TesselSDK::LogBaseFolder());
    }
    ScopedEnv xdg("XDG_DATA_HOME");
    ScopedEnv env("ENV", "HOMETEST");
    ScopedEnv game("game_id", "g");
    const std::string path = Logger::BuildLogFilePath();
    EXPECT_EQ(home + "/.local/share/VIVIDOVURUZ3HOMETEST/logs/g/", path.substr(0, path.rfind('/') + 1));
    EXPECT_TRUE(fs::is_directory(home + "/.local/share/VIVIDOVURUZ3HOMETEST/logs/g"));
}
#endif

TEST(LogPath, TraversalAttemptStaysInsideTheLogFolder) {
    const std::string path = Restart("../../../up", "../../../../escape");
    Logger::Instance().Stop();
    const fs::path base = fs::canonical(DataFolder());
    const fs::path file = fs::canonical(path);
    ASSERT_TRUE(fs::exists(file)) << path;
    EXPECT_EQ(base / "VIVIDOVURUZ3.._.._.._up" / "logs" / ".._.._.._.._escape", file.parent_path());
}

// --- Lifecycle --------------------------------------------------------------------

TEST(Logger, OneFilePerStartWithOneBanner) {
    const std::string first = Restart("LIFE", "g-life");
    ASSERT_FALSE(first.empty());
    EXPECT_TRUE(Logger::Instance().IsRunning());
    {
        ScopedEnv env("ENV", "OTHER");
        Logger::Instance().Init();  // already running: same file, no banner
    }
    EXPECT_EQ(first, Logger::Instance().CurrentLogFilePath());
    Logger::Instance().Stop();
    EXPECT_FALSE(Logger::Instance().IsRunning());
    Logger::Instance().Stop();  // a second stop does nothing

    const std::string second = Restart("LIFE", "g-life");
    Logger::Instance().Stop();
    EXPECT_NE(first, second);
    EXPECT_EQ(fs::path(first).parent_path(), fs::path(second).parent_path());
    for (const std::string& path : {first, second}) {
        const auto lines = ReadLines(path);
        ASSERT_EQ(1u, lines.size()) << path;
        EXPECT_EQ(kBanner, lines[0]);
    }
}

TEST(Logger, LinesLoggedBeforeStopAreInTheFileWhenStopReturns) {
    const std::string path = Restart("LIFE", "g-drain");
    for (int i = 0; i < 300; ++i) TesselSDK::LogMessage(i % 4, "line " + std::to_string(i));
    TesselSDK::LogMessage(7, "multi\nline");
    Logger::Instance().Stop();

    const auto lines = ReadLines(path);
    ASSERT_EQ(303u, lines.size());
    EXPECT_EQ(kBanner, lines[0]);
    const char* levels[] = {"INFO", "WARN", "ERROR", "DEBUG"};
    for (int i = 0; i < 300; ++i) {
        LogLineParts parts;
        const std::string& line = lines[static_cast<size_t>(i) + 1];
        ASSERT_TRUE(ParseLine(line, parts)) << line;
        EXPECT_EQ(levels[i % 4], parts.level);
        EXPECT_EQ("line " + std::to_string(i), parts.message);
    }
    // An embedded line break stays in the message and so splits the line in the file.
    EXPECT_EQ(std::vector<std::string>{"multi"}, Messages({lines[301]}));
    EXPECT_EQ("line", lines[302]);
}

TEST(Logger, NothingIsWrittenWhileStopped) {
    Logger::Instance().Stop();
    TesselSDK::LogMessage(0, "lost while stopped");
    const std::string path = Restart("LIFE", "g-stopped");
    TesselSDK::LogMessage(0, "kept");
    TesselSDK::LogMessage(2, nullptr);
    Logger::Instance().Stop();
    TesselSDK::LogMessage(0, "lost after stop");
    const auto before = ReadLines(path);
    Logger::Instance().Init();  // a new file; the dropped lines never show up
    Logger::Instance().Stop();

    EXPECT_EQ(before, ReadLines(path));
    const auto messages = Messages(before);
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ("kept", messages[0]);
    EXPECT_EQ("", messages[1]);
    for (const std::string& file : {path, Logger::Instance().CurrentLogFilePath()}) {
        const std::string text = testsupport::ReadFile(file);
        EXPECT_EQ(std::string::npos, text.find("lost")) << file;
    }
}

TEST(Logger, ConcurrentLoggingLosesNoLine) {
    const std::string path = Restart("LIFE", "g-threads");
    const int kThreads = 8;
    const int kLines = 600;  // in all below the queue limit
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &go] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < kLines; ++i)
                TesselSDK::LogMessage(t % 4, "t" + std::to_string(t) + " n" + std::to_string(i));
        });
    }
    // A start and stop racing with the loggers must not lose or duplicate the file's lines either.
    std::thread control([] {
        for (int i = 0; i < 20; ++i) Logger::Instance().Init();
    });
    go = true;
    for (auto& th : threads) th.join();
    control.join();
    Logger::Instance().Stop();

    const auto lines = ReadLines(path);
    EXPECT_EQ(1, Count(lines, kBanner));
    std::vector<int> next(kThreads, 0);
    int wellFormed = 0;
    for (const auto& message : Messages(lines)) {
        const int t = std::stoi(message.substr(1));
        const int n = std::stoi(message.substr(message.find(" n") + 2));
        ASSERT_EQ(next[static_cast<size_t>(t)], n) << "thread " << t << " out of order";
        ++next[static_cast<size_t>(t)];
        ++wellFormed;
    }
    EXPECT_EQ(kThreads * kLines, wellFormed);
    EXPECT_EQ(static_cast<size_t>(kThreads * kLines + 1), lines.size());
}

TEST(Logger, UnopenableFileKeepsTheNewestLinesUntilItCanBeWritten) {
    const std::string path = Restart("LIFE", "g-blocked");
    // Make the path a folder: every open of the file fails.
    ASSERT_TRUE(fs::remove(path));
    ASSERT_TRUE(fs::create_directory(path));
    const int kExtra = 25;
    const int total = static_cast<int>(Logger::kMaxQueuedLines) + kExtra;
    for (int i = 0; i < total; ++i) TesselSDK::LogMessage(0, "q" + std::to_string(i));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // the writer tries and fails
    EXPECT_TRUE(fs::is_directory(path));
    ASSERT_TRUE(fs::remove(path));

    // The writer retries on its own; Stop writes what is left.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return fs::is_regular_file(path); }, std::chrono::seconds(5)));
    Logger::Instance().Stop();
    const auto messages = Messages(ReadLines(path));
    ASSERT_EQ(Logger::kMaxQueuedLines, messages.size());
    EXPECT_EQ("q" + std::to_string(kExtra), messages.front());
    EXPECT_EQ("q" + std::to_string(total - 1), messages.back());
}
