#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/cdn_config.h"
#include "core/notify_body.h"
#include "core/turn.h"
#include "log/env.h"
#include "log/log_paths.h"
#include "log/logger.h"
#include "platform/sentry_glue.h"
#include "sdk_session.h"
#include "util/clock.h"
#include "util/json_parse.h"
#include "util/log_body.h"
#include "util/text.h"
#include "util/worker_thread.h"
#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace TesselSDK;
using testsupport::ScopedEnv;
namespace fs = std::filesystem;

namespace {

// "LEVEL|message" of each line (the banner as it is).
std::vector<std::string> Entries(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        const size_t end = line[0] == '[' ? line.find("] ", 27) : std::string::npos;
        out.push_back(end == std::string::npos ? line : line.substr(27, end - 27) + "|" + line.substr(end + 2));
    }
    return out;
}

// Restarts the process-wide logger with a new file.
std::string Restart(const std::string& game) {
    ScopedEnv e("ENV", "LIFE"), g("game_id", game);
    Logger::Instance().Stop();
    Logger::Instance().Init();
    return Logger::Instance().CurrentLogFilePath();
}

void Hook(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    SentryLogCallback(level, format, args, nullptr);
    va_end(args);
}

// std::time reads a coarse clock that may trail the precise one the code reads.
std::time_t SecondsNow() { return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()); }

}  // namespace

TEST(LogFile, LinesAsTheSinkSeesThemEscapedAndStampedOneBannerPerStart) {
    const std::string path = Restart("g-line");
    std::vector<std::string> seen;  // touched by the writer only, until Stop returns
    Logger::Instance().SetLineSink([&seen](std::string_view line) { seen.emplace_back(line); });
    const std::time_t before = SecondsNow();
    for (const auto& call : std::vector<std::pair<int, const char*>>{
             {0, "hello"}, {1, "a\nb %s\r\n\n\r[x] \\"}, {2, nullptr}, {3, ""}, {7, "m"},
             {-1, "x\r\n[2026-01-01 00:00:00.000] [ERROR] forged"}})
        LogMessage(call.first, call.second);
    LogMessage(1, std::string("\0a\r\0\n\0", 6));  // a body with NULs is logged whole
    Logger::Instance().Init();  // already running: same file, no second banner
    EXPECT_EQ(path, Logger::Instance().CurrentLogFilePath());
    const std::time_t after = SecondsNow();
    Logger::Instance().Stop();
    Logger::Instance().Stop();
    Logger::Instance().SetLineSink(nullptr);
    LogMessage(0, "lost after stop");
    // CR and LF never start a line of their own, nor does NUL end one; other levels are INFO.
    const std::vector<std::string> expected = {"] [INFO] hello", "] [WARN] a\\nb %s\\r\\n\\n\\r[x] \\", "] [ERROR] ",
                                               "] [DEBUG] ", "] [INFO] m",
                                               "] [INFO] x\\r\\n[2026-01-01 00:00:00.000] [ERROR] forged",
                                               "] [WARN] \\0a\\r\\0\\n\\0"};
    ASSERT_EQ(expected.size(), seen.size());
    char stamps[2][32];  // the local time of the call, to the millisecond
    for (int k : {0, 1}) std::strftime(stamps[k], 32, "[%Y-%m-%d %H:%M:%S.", std::localtime(k ? &after : &before));
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_TRUE((seen[i].rfind(stamps[0], 0) == 0 || seen[i].rfind(stamps[1], 0) == 0) &&
                    seen[i].find_first_not_of("0123456789", 21) == 24) << seen[i];
        EXPECT_EQ(expected[i], seen[i].substr(24));
    }
    seen.insert(seen.begin(), "<<<<< ---------------- TesselSDK Logger Initialized ---------------- >>>>>");
    EXPECT_EQ(seen, testsupport::ReadLines(path));
    const std::string second = Restart("g-line");
    Logger::Instance().Stop();
    EXPECT_EQ(std::vector<std::string>{seen[0]}, testsupport::ReadLines(second));
}

TEST(Logger, ConcurrentLoggersPastTheQueueBoundsAndRacingStartsLoseNoLine) {
    const std::string path = Restart("g-threads");
    // A writer that stalls once lets the queue reach its bounds: callers wait for it.
    std::atomic<bool> stalled{false}, go{false};
    Logger::Instance().SetLineSink([&stalled](std::string_view) {
        if (!stalled.exchange(true)) std::this_thread::sleep_for(std::chrono::milliseconds(150));
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t, &go] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < 2500; ++i) LogMessage(0, "t" + std::to_string(t) + " n" + std::to_string(i));
        });
    threads.emplace_back([] { for (int i = 0; i < 20; ++i) Logger::Instance().Init(); });
    go = true;
    for (auto& th : threads) th.join();
    Logger::Instance().Stop();
    Logger::Instance().SetLineSink(nullptr);
    const auto entries = Entries(testsupport::ReadLines(path));
    ASSERT_EQ(8u * 2500 + 1, entries.size());
    std::vector<int> next(8, 0);  // each thread's lines in its order
    for (size_t i = 1; i < entries.size(); ++i)
        ASSERT_EQ(next[std::stoul(entries[i].substr(6))]++, std::stoi(entries[i].substr(entries[i].find(" n") + 2)))
            << entries[i];
}

TEST(WorkerThread, AStartWhileAStopIsEndingTheThreadIsRefused) {
    WorkerThread worker;
    WorkerThread::Options options;
    options.drainLimit = std::chrono::seconds(10);
    std::atomic<bool> inLastRound{false}, release{false};
    worker.Start(options, [&](std::unique_lock<std::mutex>& lock, bool last) {
        lock.unlock();
        inLastRound = last;
        while (last && !release) std::this_thread::yield();
        lock.lock();
        return true;
    });
    std::thread stopper([&] { worker.Stop(); });
    while (!inLastRound) std::this_thread::yield();
    // The old thread's end must not touch a new start: none begins meanwhile.
    const auto idle = [](std::unique_lock<std::mutex>&, bool) { return true; };
    bool restarted = false;
    for (auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
         !restarted && std::chrono::steady_clock::now() < until;)
        restarted = worker.Start(options, idle);
    release = true;
    stopper.join();
    ASSERT_FALSE(restarted);
    EXPECT_TRUE(worker.Start(options, idle) && worker.Running());
}

TEST(Logger, UnopenableFileDropsBeyondTheBoundsAndSaysHowMany) {
    const std::string path = Restart("g-blocked");
    ASSERT_TRUE(fs::remove(path));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_FALSE(fs::exists(path)) << "an idle writer opens no file";
    ASSERT_TRUE(fs::create_directory(path));  // every open of the file fails
    const size_t kMax = Logger::kMaxQueuedLines;
    for (size_t i = 0; i < kMax + 25; ++i) LogMessage(0, "q" + std::to_string(i));
    ASSERT_TRUE(fs::remove(path));
    // The writer retries on its own and says what it could not keep.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return testsupport::ReadLines(path).size() == kMax + 1; }));
    LogMessage(0, "after");
    Logger::Instance().Stop();
    const auto entries = Entries(testsupport::ReadLines(path));
    ASSERT_EQ(kMax + 2, entries.size());
    EXPECT_EQ("INFO|q0 INFO|q9999 WARN|25 log lines dropped INFO|after",
              entries[0] + " " + entries[kMax - 1] + " " + entries[kMax] + " " + entries[kMax + 1]);
}

#if !defined(_WIN32)
// Run by the next test as a child process: the process ends (main returns)
// while the writer is still writing the lines it took. With
// TESSELSDK_TEST_CHILD_LINES (below the wake mark) the writer took them all;
// else ("0") lines are still queued behind its batch.
TEST(Logger, DISABLED_ChildEndsWhileTheWriterWrites) {
    Restart("g-exit");
    static std::atomic<bool> stalled{false};
    Logger::Instance().SetLineSink([](std::string_view) {
        if (!stalled.exchange(true)) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    });
    const char* count = std::getenv("TESSELSDK_TEST_CHILD_LINES");
    const int taken = count ? std::atoi(count) : 0;
    for (int i = 0; i < (taken ? taken : 3000); ++i) LogMessage(0, "a" + std::to_string(i));  // wakes it past the mark
    ASSERT_TRUE(testsupport::WaitUntil([] { return stalled.load(); }));
    if (!taken) LogMessage(0, "b");
}

TEST(Logger, LinesQueuedAtExitFollowTheOnesTheWriterIsWriting) {
    const fs::path folder = fs::path(testsupport::DataFolder()) / "VIVIDOVURUZ3LIFE" / "logs" / "g-exit";
    for (const size_t taken : {0, 100}) {  // 100: the writer took every line, none is queued
        ScopedEnv lines("TESSELSDK_TEST_CHILD_LINES", std::to_string(taken));
        fs::remove_all(folder);
        ASSERT_EQ(0, testsupport::RunThisProgram({"--gtest_also_run_disabled_tests",
                                                  "--gtest_filter=Logger.DISABLED_ChildEndsWhileTheWriterWrites"}));
        std::string path;
        for (const auto& file : fs::directory_iterator(folder)) path = file.path().string();
        const auto entries = Entries(testsupport::ReadLines(path));
        const size_t count = taken ? taken : 3000;
        ASSERT_EQ(count + (taken ? 1 : 2), entries.size()) << taken;
        for (size_t i = 0; i < count; ++i) ASSERT_EQ("INFO|a" + std::to_string(i), entries[i + 1]);
        if (!taken) {
            EXPECT_EQ("INFO|b", entries[3001]);
        }
        EXPECT_EQ('\n', testsupport::ReadFile(path).back());
    }
}

// A child forked by the host that ends with exit() writes none of the lines
// the parent had queued.
TEST(Logger, AForkedChildThatExitsLeavesTheParentsLinesToTheParent) {
    const std::string path = Restart("g-fork");
    LogMessage(0, "before the fork");
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) std::exit(0);
    int status = -1;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    Logger::Instance().Stop();
    EXPECT_EQ("INFO|before the fork", Entries(testsupport::ReadLines(path)).back());
    EXPECT_EQ(2u, testsupport::ReadLines(path).size());
}

// Children forked while another thread logs end at once: none waits for a
// lock or a writer the fork did not bring along.
TEST(SlowLogger, ChildrenForkedWhileAnotherThreadLogsEndPromptly) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the leak check at a child's exit waits for an allocator lock the fork left held";
#endif
    Restart("g-forks");
    std::atomic<bool> done{false};
    std::thread logging([&done] {
        while (!done) LogMessage(0, "busy");
    });
    auto slowest = std::chrono::steady_clock::duration::zero();
    for (int i = 0; i < 20; ++i) {
        std::fflush(nullptr);
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = fork();
        if (child == 0) std::exit(0);
        int status = 0;
        while (waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds(5)) {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
    }
    done = true;
    logging.join();
    Logger::Instance().Stop();
#if defined(__SANITIZE_THREAD__)
    const auto bound = std::chrono::milliseconds(2500);  // its exit sleeps a second
#else
    const auto bound = std::chrono::milliseconds(1500);
#endif
    EXPECT_LT(slowest, bound) << std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count() << " ms";
}
#endif

TEST(LogPath, FoldersThatCannotBeLeftFromEnvironmentVariablesReadAsTheirBytes) {
    const std::string base = WithTrailingSeparator(testsupport::DataFolder());
    EXPECT_EQ("C:\\x\\|", WithTrailingSeparator("C:\\x\\") + "|" + WithTrailingSeparator(""));
    ScopedEnv env("ENV"), game("game_id");  // restored at the end
    const char* cases[][3] = {  // ENV, game_id (null: unset), folder
        {"ZEPH8", "my.game", "VIVIDOVURUZ3SANDBOX/logs/my.game/"},
        {nullptr, "", "VIVIDOVURUZ3/logs/TesselSDK/"},
        {"../../x", "../../../evil", "VIVIDOVURUZ3.._.._x/logs/.._.._.._evil/"},
        {"/", "..", "VIVIDOVURUZ3_/logs/__/"},
        {"C:\\", "a\\b/c:d", "VIVIDOVURUZ3C__/logs/a_b_c_d/"}};
    std::string previous;
    for (const auto& c : cases) {
        c[0] ? testsupport::SetEnv("ENV", c[0]) : testsupport::UnsetEnv("ENV");
        c[1] ? testsupport::SetEnv("game_id", c[1]) : testsupport::UnsetEnv("game_id");
        const std::string path = Logger::BuildLogFilePath(), dir = base + c[2];
        ASSERT_EQ(dir, path.substr(0, dir.size()));
        EXPECT_TRUE(fs::is_directory(dir)) << dir;
        const std::string count = path.substr(path.rfind('_') + 1);  // new for each path, even within a clock tick
        EXPECT_TRUE(count.size() == 21 && count.find_first_not_of("0123456789") == 17 && count != previous) << path;
        previous = count;
    }
#if !defined(_WIN32)
    ScopedEnv home("HOME", "/h"), xdg("XDG_DATA_HOME", "relative/dir");  // invalid when relative
    EXPECT_EQ("/h/.local/share", LogBaseFolder());
    testsupport::UnsetEnv("XDG_DATA_HOME");
    EXPECT_EQ("/h/.local/share", LogBaseFolder());
#endif
    testsupport::SetEnv("TESSELSDK_TEST_ENV", "caf\xC3\xA9 =\xE4\xB8\xAD=");
    EXPECT_EQ("caf\xC3\xA9 =\xE4\xB8\xAD=", GetEnvVar("TESSELSDK_TEST_ENV"));
    testsupport::UnsetEnv("TESSELSDK_TEST_ENV");
    EXPECT_EQ("|", GetEnvVar("TESSELSDK_TEST_ENV") + "|" + GetEnvVar(""));
#if defined(_WIN32)
    // Set through the wide calls only, which the C runtime's narrow copy misses.
    // The name is widened a byte a unit, as a signed char; the value keeps the
    // low byte of each unit, however the host wrote it.
    const wchar_t* wide = L"TESSELSDK_TEST_\uFFC3\uFFA9";
    SetEnvironmentVariableW(L"TESSELSDK_TEST_\u00C3\u00A9", L"bytes widened unsigned");
    SetEnvironmentVariableW(wide, L"\u4E2D\u00E9x\U0001F600");
    EXPECT_EQ(std::string("-\xE9x=\0", 5), GetEnvVar("TESSELSDK_TEST_\xC3\xA9"));
    SetEnvironmentVariableW(wide, std::wstring(5000, L'\u00FC').c_str());
    EXPECT_TRUE(std::string(5000, '\xFC') == GetEnvVar("TESSELSDK_TEST_\xC3\xA9"));
    SetEnvironmentVariableW(wide, nullptr);
    EXPECT_EQ("", GetEnvVar("TESSELSDK_TEST_\xC3\xA9"));
    SetEnvironmentVariableW(L"TESSELSDK_TEST_\u00C3\u00A9", nullptr);
#endif
}

// As initialisation starts it; with the service refused or hanging, close still ends in time.
TEST(SlowReporterGlue, HookAndWrappersLogAndSendAndCloseIsBoundedWhenTheServiceFails) {
    const std::string host = "http://k@" + testsupport::ServerUrl().substr(7);
    fs::remove_all(".sentry-native");  // what an earlier run could not send is sent at a start
    for (const std::string& dsn : {host + "/9", std::string("http://k@127.0.0.1:1/9"), host + "/hang/9"}) {
        Logger::Instance().Init();
        testsupport::LogWindow window;
        EXPECT_TRUE(SentryStart(dsn.c_str(), "rel-1"));
        SentryAddBreadcrumb("CDN configuration loaded", "config");
        SentryCaptureMessage("TesselSDK initialized successfully", 0);
        SentryCaptureException("CDN_Parse_Exception", "parse error at 1");
        const auto start = std::chrono::steady_clock::now();
        SentryFlushAndClose(100);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3500)) << dsn;
        // 64-bit and size arguments format as on Linux on every build.
        Hook(-1, "%llu %zu %.2f", 18446744073709551615ull, std::size_t{7}, 0.5);
        Hook(0, nullptr);
        Hook(1, "warning");
        Hook(3, "%s", std::string(2000, 'z').c_str());
        SentryCaptureMessage("no reporter", 0);
        SentryCaptureException(nullptr, nullptr);
        Logger::Instance().Stop();  // the reporter's own lines go out through the running logger
        std::string log;
        for (const std::string& line : Entries(window.Lines())) log += line + "\n";
        for (const char* logged : {"starting transport", "Breadcrumb: CDN configuration loaded\n"})  // its, ours
            EXPECT_NE(std::string::npos, log.find(std::string("\nDEBUG|[Sentry] ") + logged)) << log;
        if (dsn != host + "/9") continue;
        const std::string nil = "captured: 00000000-0000-0000-0000-000000000000\n";
        const std::string tail = "DEBUG|[Sentry] 18446744073709551615 7 0.50\nINFO|[Sentry] \nWARN|[Sentry] warning\n"
                                 "ERROR|[Sentry] " + std::string(1023, 'z') + "\nDEBUG|[Sentry] Event " + nil +
                                 "DEBUG|[Sentry] Exception " + nil;
        EXPECT_EQ(tail, log.substr(log.size() - std::min(log.size(), tail.size())));
        const auto events = testsupport::EnvelopePayloads(testsupport::Requests("/api/9/envelope/"), "event");
        ASSERT_EQ(2u, events.size());
        const auto &m = events[0], &b = m["breadcrumbs"][0], &x = events[1]["exception"]["values"][0];
        EXPECT_EQ(nlohmann::ordered_json({"info", "TesselSDK", "TesselSDK initialized successfully", "config",
                                          "CDN configuration loaded", "CDN_Parse_Exception", "parse error at 1"}),
                  nlohmann::ordered_json({m["level"], m["logger"], m["message"]["formatted"], b["type"], b["message"],
                                          x["type"], x["value"]}));
    }
}

TEST(Text, WideToUtf8Base64UrlEncodeAsciiCaseMappingAndBodiesCutForTheLog) {
    EXPECT_EQ("a\xC3\xA9" "b\xE4\xB8\xAD" "c\xF0\x9F\x98\x80" "d\xEF\xBF\xBF\xF4\x8F\xBF\xBF",
              WideToUtf8(L"a\u00E9b\u4E2Dc\U0001F600d\uFFFF\U0010FFFF"));
    // Lone surrogates (a high one last, a low one before a high one) become U+FFFD.
    const wchar_t lone[] = {L'a', wchar_t(0xD800), L'b', wchar_t(0xDC00), wchar_t(0xD800), wchar_t(0xDBFF), 0, L'c', 0};
    EXPECT_EQ("a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", WideToUtf8(nullptr) + WideToUtf8(lone));
    // Every length of character is valid UTF-8; stray, overlong or out-of-range leads, surrogates, values
    // beyond U+10FFFF and cut characters are not.
    EXPECT_TRUE(IsValidUtf8("a\xC3\xA9\xE0\xA0\x80\xE4\xB8\xAD\xEF\xBF\xBF\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"));
    for (const char* bad : {"\x80", "\x81\x80\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                            "\xF5\x80\x80\x80", "\xE4\xB8"}) {
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
    }
    std::string base64;  // RFC 4648 vectors
    for (const char* in : {"", "f", "fo", "foo", "fooba", "\xFF\xFE\xFD", "\xFB\xFF"}) base64 += Base64Encode(in) + "|";
    EXPECT_EQ("|Zg==|Zm8=|Zm9v|Zm9vYmE=|//79|+/8=|", base64);
    EXPECT_EQ("a-_.~Z9%20%2B%2F%3D%C3%A9%0A%00%AB", UrlEncode(std::string("a-_.~Z9 +/=\xC3\xA9\n\0\xAB", 16)));
    EXPECT_TRUE(AsciiUpper("ab\xC3\xA9") == "AB\xC3\xA9" && AsciiToLower('\xC9') == '\xC9' && !AsciiIsAlnum('\xAA'));
    EXPECT_EQ(std::string(4096, 'a'), BodyForLog(std::string(4096, 'a')));
    EXPECT_EQ(std::string(4096, 'a') + "... [4097 bytes in all]", BodyForLog(std::string(4097, 'a')));
    // U+00E9 (two bytes) and U+1F600 (four) straddling the limit are left out whole.
    EXPECT_EQ(std::string(4095, 'a') + "... [5000 bytes in all]",
              BodyForLog(std::string(4095, 'a') + "\xC3\xA9" + std::string(903, 'b')));
    EXPECT_EQ(std::string(4093, 'a') + "... [4101 bytes in all]",
              BodyForLog(std::string(4093, 'a') + "\xF0\x9F\x98\x80" + std::string(4, 'b')));
}

TEST(Clock, EpochMillisecondsAndUtcTimestampAlsoFromManyThreads) {
    const std::time_t first = SecondsNow();
    const long long now = NowEpochMs();
    const std::string text = GetUtcTimestamp();
    const std::time_t last = SecondsNow();
    EXPECT_TRUE(now >= first * 1000LL && now < (last + 1) * 1000LL) << now;
    EXPECT_TRUE(text == FormatUtcTimestamp(first) || text == FormatUtcTimestamp(last)) << text;
    // Each thread formats its own instant; a shared conversion buffer would mix them up.
    std::vector<std::string> expected;
    for (int t = 0; t < 8; ++t) expected.push_back(FormatUtcTimestamp(951868799 + t * 176401));
    EXPECT_EQ("2000.02.29  23.59.59|2026.12.06  03.18.06", expected[0] + "|" + FormatUtcTimestamp(1796527086));
    std::vector<int> bad(8, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 8; ++t)
        threads.emplace_back([t, &expected, &bad] {
            const std::time_t instant = 951868799 + 176401 * static_cast<std::time_t>(t);
            for (int i = 0; i < 2000; ++i) bad[t] += FormatUtcTimestamp(instant) != expected[t];
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(std::vector<int>(8, 0), bad);
}

TEST(OutsideJson, DeepNestingIsRefusedBeforeAnyRecursionOnAOneMegabyteStack) {
    const auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_NO_THROW(ParseOutsideJson(nested(kMaxJsonDepth)));
    EXPECT_THROW(ParseOutsideJson(nested(kMaxJsonDepth + 1)), JsonTooDeep);
    EXPECT_NO_THROW(ParseOutsideJson("[\"" + std::string(1000, '[') + "\\\"{\"]"));  // brackets inside a text

    // 100,000 levels (about 200 KB) overflowed a 1 MB stack in each reader.
    const std::string deep = "{\"virivizar_ss\":{\"ws\":{\"kr\":\"h\"}},\"a\":" + nested(100000) + "}";
    testsupport::RunOnStackOf(1 << 20, [&] {
        EXPECT_EQ("", ParseCdnConfig(deep, "G").webSocketUrl);  // as any unparsable configuration
        bool isJson = true;
        EXPECT_TRUE(ParseIceServers(deep, &isJson).empty() && !isJson);
        std::string body, warning, error;
        EXPECT_TRUE(!BuildMobileNotifyBody("k", deep.c_str(), "ko", body, warning, error) &&
                    error == "alarm_payload is not valid JSON.") << error;
    });
}

