#include <gtest/gtest.h>

#include <cctype>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "util/clock.h"
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

// --- WideToUtf8 ---------------------------------------------------------------

TEST(WideToUtf8, NullAndEmptyGiveEmpty) {
    EXPECT_EQ("", WideToUtf8(nullptr));
    EXPECT_EQ("", WideToUtf8(L""));
}

TEST(WideToUtf8, EncodesEveryUtf8Length) {
    EXPECT_EQ("plain ASCII", WideToUtf8(L"plain ASCII"));
    EXPECT_EQ("C3A9", Hex(WideToUtf8(L"\u00E9")));          // 2 bytes
    EXPECT_EQ("DFBF", Hex(WideToUtf8(L"\u07FF")));          // largest 2-byte
    EXPECT_EQ("E4B8AD", Hex(WideToUtf8(L"\u4E2D")));        // 3 bytes
    EXPECT_EQ("EFBFBF", Hex(WideToUtf8(L"\uFFFF")));        // largest 3-byte
    // Outside the basic plane: a surrogate pair in UTF-16, one unit in UTF-32.
    EXPECT_EQ("F09F9880", Hex(WideToUtf8(L"\U0001F600")));
    EXPECT_EQ("F48FBFBF", Hex(WideToUtf8(L"\U0010FFFF")));
    EXPECT_EQ("61C3A962E4B8AD63F09F988064", Hex(WideToUtf8(L"a\u00E9b\u4E2Dc\U0001F600d")));
}

TEST(WideToUtf8, LoneSurrogatesBecomeReplacementCharacter) {
    const wchar_t loneHigh[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    EXPECT_EQ("61EFBFBD62", Hex(WideToUtf8(loneHigh)));
    const wchar_t loneLow[] = {L'a', static_cast<wchar_t>(0xDC00), L'b', 0};
    EXPECT_EQ("61EFBFBD62", Hex(WideToUtf8(loneLow)));
    const wchar_t highAtEnd[] = {L'a', static_cast<wchar_t>(0xDBFF), 0};
    EXPECT_EQ("61EFBFBD", Hex(WideToUtf8(highAtEnd)));
    // Low before high is no pair: two replacements.
    const wchar_t reversed[] = {static_cast<wchar_t>(0xDC00), static_cast<wchar_t>(0xD800), 0};
    EXPECT_EQ("EFBFBDEFBFBD", Hex(WideToUtf8(reversed)));
}

TEST(WideToUtf8, EndsAtFirstNul) {
    const wchar_t text[] = {L'a', L'b', 0, L'c', 0};
    EXPECT_EQ("ab", WideToUtf8(text));
}

TEST(WideToUtf8, ValuesBeyondUnicodeBecomeReplacementWhereWcharIs32Bit) {
    if (sizeof(wchar_t) != 4) GTEST_SKIP() << "wchar_t holds UTF-16 here";
    const wchar_t text[] = {static_cast<wchar_t>(0x110000), L'x', 0};
    EXPECT_EQ("EFBFBD78", Hex(WideToUtf8(text)));
}

// --- Base64Encode -------------------------------------------------------------

TEST(Base64Encode, Rfc4648Vectors) {
    EXPECT_EQ("", Base64Encode(""));
    EXPECT_EQ("Zg==", Base64Encode("f"));
    EXPECT_EQ("Zm8=", Base64Encode("fo"));
    EXPECT_EQ("Zm9v", Base64Encode("foo"));
    EXPECT_EQ("Zm9vYg==", Base64Encode("foob"));
    EXPECT_EQ("Zm9vYmE=", Base64Encode("fooba"));
    EXPECT_EQ("Zm9vYmFy", Base64Encode("foobar"));
}

TEST(Base64Encode, EncodesEveryByteIncludingNulAndHighBytes) {
    EXPECT_EQ("AGE=", Base64Encode(std::string("\0a", 2)));
    EXPECT_EQ("AAAA", Base64Encode(std::string(3, '\0')));
    EXPECT_EQ("//79", Base64Encode("\xFF\xFE\xFD"));
    EXPECT_EQ("+/8=", Base64Encode("\xFB\xFF"));
}

// --- UrlEncode ----------------------------------------------------------------

TEST(UrlEncode, KeepsUnreservedCharacters) {
    const std::string unreserved = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.~";
    EXPECT_EQ(unreserved, UrlEncode(unreserved));
    EXPECT_EQ("", UrlEncode(""));
}

TEST(UrlEncode, EncodesEverythingElseWithUpperCaseHex) {
    EXPECT_EQ("%20", UrlEncode(" "));
    EXPECT_EQ("%2B%2F%3D", UrlEncode("+/="));
    EXPECT_EQ("%C3%A9", UrlEncode("\xC3\xA9"));
    EXPECT_EQ("%0A", UrlEncode("\n"));
    EXPECT_EQ("%AB", UrlEncode("\xAB"));
    EXPECT_EQ("a%26b%3Fc%25d", UrlEncode("a&b?c%d"));
}

TEST(UrlEncode, OnlyAsciiLettersAndDigitsAreKeptAmongAllBytes) {
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        const bool keep = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '-' ||
                          b == '_' || b == '.' || b == '~';
        const std::string encoded = UrlEncode(std::string(1, c));
        if (keep) {
            EXPECT_EQ(std::string(1, c), encoded) << b;
        } else {
            ASSERT_EQ(3u, encoded.size()) << b;
            EXPECT_EQ('%', encoded[0]);
            EXPECT_EQ(b, std::stoi(encoded.substr(1), nullptr, 16));
            EXPECT_FALSE(std::islower(static_cast<unsigned char>(encoded[1])) ||
                         std::islower(static_cast<unsigned char>(encoded[2])))
                << encoded;
        }
    }
}

// --- ASCII helpers --------------------------------------------------------------

TEST(AsciiHelpers, MapOnlyAsciiAndLeaveHighBytes) {
    EXPECT_EQ('A', AsciiToUpper('a'));
    EXPECT_EQ('z', AsciiToLower('Z'));
    EXPECT_EQ('1', AsciiToUpper('1'));
    EXPECT_EQ('\xE9', AsciiToUpper('\xE9'));
    EXPECT_EQ('\xC9', AsciiToLower('\xC9'));
    EXPECT_FALSE(AsciiIsAlnum('\xC3'));
    EXPECT_FALSE(AsciiIsAlnum('\xAA'));
    EXPECT_TRUE(AsciiIsAlnum('q'));
    EXPECT_EQ("ZEPH8 CAF\xC3\xA9", AsciiUpper("zeph8 caf\xC3\xA9"));
}

// --- Clock ----------------------------------------------------------------------

TEST(NowEpochMs, FollowsTheWallClock) {
    const long long before = static_cast<long long>(std::time(nullptr)) * 1000;
    const long long now = NowEpochMs();
    const long long after = (static_cast<long long>(std::time(nullptr)) + 1) * 1000;
    EXPECT_GE(now, before);
    EXPECT_LT(now, after);
    EXPECT_EQ(13u, std::to_string(now).size());
}

TEST(UtcTimestamp, FormatsGivenInstants) {
    EXPECT_EQ("2026.12.06  03.18.06", FormatUtcTimestamp(1796527086));
    EXPECT_EQ("2026.03.02  09.05.03", FormatUtcTimestamp(1772442303));
    EXPECT_EQ("2000.02.29  23.59.59", FormatUtcTimestamp(951868799));
    EXPECT_EQ("1970.01.01  00.00.00", FormatUtcTimestamp(0));
}

TEST(UtcTimestamp, NowHasTheFixedShapeAndCurrentTime) {
    const std::time_t before = std::time(nullptr);
    const std::string text = GetUtcTimestamp();
    const std::time_t after = std::time(nullptr);
    ASSERT_EQ(20u, text.size()) << text;
    EXPECT_EQ("  ", text.substr(10, 2));
    EXPECT_EQ('.', text[4]);
    EXPECT_EQ('.', text[7]);
    EXPECT_EQ('.', text[14]);
    EXPECT_EQ('.', text[17]);
    bool matches = false;
    for (std::time_t t = before; t <= after; ++t) matches = matches || text == FormatUtcTimestamp(t);
    EXPECT_TRUE(matches) << text;
}

TEST(UtcTimestamp, IsSafeFromManyThreads) {
    // Each thread formats its own instant; a shared conversion buffer would mix them up.
    const std::vector<std::string> expected = {
        "2000.02.29  23.59.59", "2000.03.03  01.00.00", "2000.03.05  02.00.01", "2000.03.07  03.00.02",
        "2000.03.09  04.00.03", "2000.03.11  05.00.04", "2000.03.13  06.00.05", "2000.03.15  07.00.06"};
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
