#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "core/cdn_config.h"
#include "core/notify_body.h"
#include "core/turn.h"
#include "test_support.h"
#include "util/clock.h"
#include "util/json_parse.h"
#include "util/log_body.h"
#include "util/text.h"

using namespace TesselSDK;

namespace {

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 0x0F]);
    }
    return out;
}

}  // namespace

TEST(WideToUtf8, EncodesEveryLengthAndReplacesLoneSurrogates) {
    EXPECT_EQ("", WideToUtf8(nullptr));
    EXPECT_EQ("", WideToUtf8(L""));
    // 1, 2, 3 and 4 bytes; outside the basic plane a surrogate pair in UTF-16.
    EXPECT_EQ("61C3A962E4B8AD63F09F988064", Hex(WideToUtf8(L"a\u00E9b\u4E2Dc\U0001F600d")));
    EXPECT_EQ("EFBFBFF48FBFBF", Hex(WideToUtf8(L"\uFFFF\U0010FFFF")));
    const wchar_t loneHigh[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    EXPECT_EQ("61EFBFBD62", Hex(WideToUtf8(loneHigh)));
    const wchar_t highAtEnd[] = {L'a', static_cast<wchar_t>(0xDBFF), 0};
    EXPECT_EQ("61EFBFBD", Hex(WideToUtf8(highAtEnd)));
    // Low before high is no pair: two replacements.
    const wchar_t reversed[] = {static_cast<wchar_t>(0xDC00), static_cast<wchar_t>(0xD800), 0};
    EXPECT_EQ("EFBFBDEFBFBD", Hex(WideToUtf8(reversed)));
    const wchar_t embeddedNul[] = {L'a', L'b', 0, L'c', 0};
    EXPECT_EQ("ab", WideToUtf8(embeddedNul));
}

TEST(Base64Encode, Rfc4648VectorsAndEveryByte) {
    EXPECT_EQ("", Base64Encode(""));
    EXPECT_EQ("Zg==", Base64Encode("f"));
    EXPECT_EQ("Zm8=", Base64Encode("fo"));
    EXPECT_EQ("Zm9v", Base64Encode("foo"));
    EXPECT_EQ("Zm9vYmE=", Base64Encode("fooba"));
    EXPECT_EQ("AGE=", Base64Encode(std::string("\0a", 2)));
    EXPECT_EQ("//79", Base64Encode("\xFF\xFE\xFD"));
    EXPECT_EQ("+/8=", Base64Encode("\xFB\xFF"));
}

TEST(UrlEncode, KeepsOnlyAsciiUnreservedAndEncodesTheRestInUpperCaseHex) {
    EXPECT_EQ("a-_.~Z9%20%2B%2F%3D%C3%A9%0A%AB", UrlEncode("a-_.~Z9 +/=\xC3\xA9\n\xAB"));
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        const bool keep = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '-' ||
                          b == '_' || b == '.' || b == '~';
        const std::string encoded = UrlEncode(std::string(1, c));
        if (keep) {
            EXPECT_EQ(std::string(1, c), encoded) << b;
        } else {
            ASSERT_EQ(3u, encoded.size()) << b;
            EXPECT_EQ(b, std::stoi(encoded.substr(1), nullptr, 16));
            EXPECT_EQ(encoded, AsciiUpper(encoded));
        }
    }
}

TEST(AsciiHelpers, MapOnlyAsciiAndLeaveHighBytes) {
    EXPECT_EQ("ZEPH8 CAF\xC3\xA9", AsciiUpper("zeph8 caf\xC3\xA9"));
    EXPECT_EQ('\xC9', AsciiToLower('\xC9'));
    EXPECT_FALSE(AsciiIsAlnum('\xAA'));
}

namespace {
// std::time reads a coarse clock that may trail the precise one by a tick.
std::time_t PreciseSecondsNow() { return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()); }
}  // namespace

TEST(Clock, EpochMillisecondsAndUtcTimestamp) {
    const long long before = static_cast<long long>(PreciseSecondsNow()) * 1000;
    const long long now = NowEpochMs();
    const long long after = (static_cast<long long>(PreciseSecondsNow()) + 1) * 1000;
    EXPECT_GE(now, before);
    EXPECT_LT(now, after);

    EXPECT_EQ("2026.12.06  03.18.06", FormatUtcTimestamp(1796527086));
    EXPECT_EQ("2000.02.29  23.59.59", FormatUtcTimestamp(951868799));
    const std::time_t first = PreciseSecondsNow();
    const std::string text = GetUtcTimestamp();
    const std::time_t last = PreciseSecondsNow();
    bool matches = false;
    for (std::time_t t = first; t <= last; ++t) matches = matches || text == FormatUtcTimestamp(t);
    EXPECT_TRUE(matches) << text;
}

TEST(Clock, UtcTimestampIsSafeFromManyThreads) {
    // Each thread formats its own instant; a shared conversion buffer would mix them up.
    std::vector<std::string> expected;
    for (int t = 0; t < 8; ++t) expected.push_back(FormatUtcTimestamp(951868799 + t * (2 * 86400 + 3601)));
    std::vector<int> bad(expected.size(), 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < expected.size(); ++t) {
        threads.emplace_back([t, &expected, &bad] {
            const std::time_t instant = 951868799 + static_cast<std::time_t>(t) * (2 * 86400 + 3601);
            for (int i = 0; i < 2000; ++i)
                if (FormatUtcTimestamp(instant) != expected[t]) ++bad[t];
        });
    }
    for (auto& th : threads) th.join();
    for (size_t t = 0; t < expected.size(); ++t) EXPECT_EQ(0, bad[t]) << expected[t];
}

TEST(OutsideJson, DeepNestingIsRefusedBeforeAnyRecursionOnAOneMegabyteStack) {
    const auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_NO_THROW(ParseOutsideJson(nested(kMaxJsonDepth)));
    EXPECT_THROW(ParseOutsideJson(nested(kMaxJsonDepth + 1)), JsonTooDeep);
    EXPECT_NO_THROW(ParseOutsideJson("[\"" + std::string(1000, '[') + "\\\"{\"]"));  // brackets inside a text
    EXPECT_THROW(ParseOutsideJson("{\"a\":" + nested(100)), std::exception);  // not closed, still refused

    // 100,000 levels (about 200 KB) overflowed a 1 MB stack in each reader.
    const std::string deep = "{\"virivizar_ss\":{\"ws\":{\"kr\":\"h\"}},\"a\":" + nested(100000) + "}";
    testsupport::RunOnStackOf(1 << 20, [&] {
        EXPECT_EQ("", ParseCdnConfig(deep, "G").webSocketUrl);  // as any unparsable configuration
        bool isJson = true;
        EXPECT_TRUE(ParseIceServers(deep, &isJson).empty());
        EXPECT_FALSE(isJson);
        std::string body, warning, error;
        EXPECT_FALSE(BuildMobileNotifyBody("k", deep.c_str(), "ko", body, warning, error));
        EXPECT_EQ("alarm_payload is not valid JSON.", error);
    });
}

TEST(BodyForLog, CutsLongBodiesWithTheirFullSizeAndNeverInsideACharacter) {
    EXPECT_EQ(std::string(4096, 'a'), BodyForLog(std::string(4096, 'a')));
    EXPECT_EQ(std::string(4096, 'a') + "... [4097 bytes in all]", BodyForLog(std::string(4097, 'a')));
    // U+00E9 (two bytes) straddling the limit is left out whole.
    EXPECT_EQ(std::string(4095, 'a') + "... [5000 bytes in all]",
              BodyForLog(std::string(4095, 'a') + "\xC3\xA9" + std::string(903, 'b')));
}
