// The platform-independent logic of the HTTP client: widening, URL splitting
// and escaping, header lines, redirect policy and the mapping of timeouts.
#include <gtest/gtest.h>

#include <string>

#include "net/http_header_lines.h"
#include "net/http_redirect_policy.h"
#include "net/http_text_widen.h"
#include "net/http_transfer_limits.h"
#include "net/http_url.h"

using namespace TesselSDK;

TEST(HttpWiden, HeaderBytesAreZeroExtended) {
    EXPECT_EQ(u"Authorization: Bearer x", WidenBytes("Authorization: Bearer x"));
    // The bytes 0x80..0xFF keep their value instead of becoming U+FF80..U+FFFF.
    EXPECT_EQ(std::u16string({u'a', char16_t(0xE9), char16_t(0x80), char16_t(0xFF)}), WidenBytes("a\xE9\x80\xFF"));
    // UTF-8 in a header stays byte for byte: two bytes, two units.
    EXPECT_EQ(std::u16string({char16_t(0xC3), char16_t(0xA9)}), WidenBytes("\xC3\xA9"));
}

TEST(HttpWiden, UrlsAreDecodedFromUtf8) {
    EXPECT_EQ(u"http://h/p?q=1", WidenUrl("http://h/p?q=1"));
    EXPECT_EQ(u"/caf\u00E9/\u20AC", WidenUrl("/caf\xC3\xA9/\xE2\x82\xAC"));
    EXPECT_EQ(std::u16string({u'/', char16_t(0xD83D), char16_t(0xDE00)}), WidenUrl("/\xF0\x9F\x98\x80"));
    EXPECT_EQ(4u, WidenedUrlLength("/\xF0\x9F\x98\x80\xC3\xA9"));
}

TEST(HttpWiden, UrlsThatAreNotUtf8FallBackToBytes) {
    // A Latin-1 byte, an overlong '/', an encoded surrogate, a cut sequence,
    // a code point above U+10FFFF: each makes the whole text bytes.
    for (const std::string bad : {"/caf\xE9", "/\xC0\xAF", "/\xED\xA0\x80", "/\xE2\x82", "/\xF4\x90\x80\x80"}) {
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
        EXPECT_EQ(WidenBytes(bad), WidenUrl(bad)) << bad;
        EXPECT_EQ(bad.size(), WidenedUrlLength(bad)) << bad;
    }
    // One bad byte anywhere turns the valid parts into bytes as well.
    EXPECT_EQ(std::u16string({char16_t(0xC3), char16_t(0xA9), char16_t(0xE9)}), WidenUrl("\xC3\xA9\xE9"));
}

TEST(HttpUrl, SplitsSchemeHostPortAndTarget) {
    HttpUrlParts p;
    ASSERT_TRUE(SplitHttpUrl("http://127.0.0.1:18480/turn/v1.0/turn-ip?streamer_id=a-1-2", p));
    EXPECT_FALSE(p.secure);
    EXPECT_EQ("127.0.0.1", p.host);
    EXPECT_EQ(18480, p.port);
    EXPECT_EQ("/turn/v1.0/turn-ip?streamer_id=a-1-2", p.pathAndQuery);

    ASSERT_TRUE(SplitHttpUrl("HTTPS://user:pw@Example.com", p));
    EXPECT_TRUE(p.secure);
    EXPECT_EQ("Example.com", p.host);
    EXPECT_EQ(443, p.port);
    EXPECT_EQ("", p.pathAndQuery);

    ASSERT_TRUE(SplitHttpUrl("http://[::1]:8080?x=1", p));
    EXPECT_EQ("[::1]", p.host);
    EXPECT_EQ(8080, p.port);
    EXPECT_EQ("?x=1", p.pathAndQuery);

    ASSERT_TRUE(SplitHttpUrl("http://h:/x", p));
    EXPECT_EQ(80, p.port);
}

TEST(HttpUrl, RejectsWhatTheWindowsTransportCannotCrack) {
    HttpUrlParts p;
    for (const char* bad : {"", "127.0.0.1/x", "ftp://h/x", "ws://h/", "http:/h/x", "http:///x", "http://:80/x",
                            "http://h:0/", "http://h:65536/", "http://h:8o/", "http://[::1/x", "http://[::1]x/"}) {
        EXPECT_FALSE(SplitHttpUrl(bad, p)) << bad;
    }
}

TEST(HttpUrl, LimitsCountUtf16UnitsOfHostAndTarget) {
    HttpUrlParts p;
    const std::string okHost(255, 'h');
    EXPECT_TRUE(SplitHttpUrl("http://" + okHost + "/", p));
    EXPECT_FALSE(SplitHttpUrl("http://" + okHost + "h/", p));

    const std::string okPath = "/" + std::string(1000, 'p') + "?" + std::string(21, 'q');  // 1023 units
    EXPECT_TRUE(SplitHttpUrl("http://h" + okPath, p));
    EXPECT_FALSE(SplitHttpUrl("http://h" + okPath + "q", p));

    // 1022 characters of which 500 are two UTF-8 bytes: 1023 units, 1523 bytes.
    std::string utf8Path = "/";
    for (int i = 0; i < 500; ++i) utf8Path += "\xC3\xA9";
    utf8Path += std::string(522, 'p');
    EXPECT_TRUE(SplitHttpUrl("http://h" + utf8Path, p));
    EXPECT_FALSE(SplitHttpUrl("http://h" + utf8Path + "p", p));
    // The same bytes with one Latin-1 byte elsewhere count one unit per byte.
    EXPECT_FALSE(SplitHttpUrl("http://h\xE9" + utf8Path, p));
}

TEST(HttpUrl, RequestTargetEscapesLikeTheWindowsTransport) {
    EXPECT_EQ("/", EscapeRequestTarget(""));
    EXPECT_EQ("/a/b?c=d&e=%41", EscapeRequestTarget("/a/b?c=d&e=%41"));
    EXPECT_EQ("/a%20b%22%3C%3E%5C%5E%60%7B%7C%7D%7F%09", EscapeRequestTarget("/a b\"<>\\^`{|}\x7F\t"));
    EXPECT_EQ("/caf%C3%A9/%E2%82%AC/%F0%9F%98%80", EscapeRequestTarget("/caf\xC3\xA9/\xE2\x82\xAC/\xF0\x9F\x98\x80"));
    // Not UTF-8: each byte is a character of its own, sent as its UTF-8 form.
    EXPECT_EQ("/caf%C3%A9", EscapeRequestTarget("/caf\xE9"));
}

TEST(HttpHeaderLines, ContentTypeFirstThenMapOrderWithDuplicates) {
    const HttpHeaders headers = {{"caller-id", "c"},
                                 {"X-Lang", "ko"},
                                 {"Content-Type", "application/json"},
                                 {"Authorization", "Bearer t"},
                                 {"Caller-Id", "C"},
                                 {"Content-Encoding", "gzip"},
                                 {"X-Nation", "KR"}};
    const std::vector<std::string> expected = {
        "Content-Type: application/json", "Authorization: Bearer t", "Caller-Id: C",     "Content-Encoding: gzip",
        "Content-Type: application/json", "X-Lang: ko",              "X-Nation: KR",     "caller-id: c"};
    EXPECT_EQ(expected, RequestHeaderLines("application/json", headers));
    EXPECT_EQ(std::vector<std::string>{"X-Empty: "}, RequestHeaderLines("", {{"X-Empty", ""}}));
    EXPECT_TRUE(RequestHeaderLines("", {}).empty());
}

TEST(HttpHeaderLines, EntriesThatWouldSplitIntoMoreLinesAreLeftOut) {
    const HttpHeaders headers = {{"A", "1\r\nX-Injected: yes"},
                                 {"B\nC", "2"},
                                 {"", "3"},
                                 {"D: E", "4"},
                                 {"F", std::string("5\0G", 3)},
                                 {"Ok", "caf\xE9"}};
    EXPECT_EQ(std::vector<std::string>{"Ok: caf\xE9"}, RequestHeaderLines("text/plain\r\nX: y", headers));
}

TEST(HttpRedirectPolicy, FollowsLikeTheWindowsTransport) {
    RedirectPlan plan = PlanRedirect(302, "GET", false, "http://h/next");
    EXPECT_EQ(RedirectAction::Follow, plan.action);
    EXPECT_EQ("GET", plan.method);

    plan = PlanRedirect(302, "POST", false, "http://h/next");
    EXPECT_EQ(RedirectAction::Follow, plan.action);
    EXPECT_EQ("GET", plan.method);
    EXPECT_FALSE(plan.keepBody);

    plan = PlanRedirect(301, "PUT", true, "https://h/next");
    EXPECT_EQ("PUT", plan.method);
    EXPECT_TRUE(plan.keepBody);

    for (const int status : {307, 308}) {
        plan = PlanRedirect(status, "POST", false, "https://h/next");
        EXPECT_EQ(RedirectAction::Follow, plan.action);
        EXPECT_EQ("POST", plan.method);
        EXPECT_TRUE(plan.keepBody);
    }
    plan = PlanRedirect(303, "PUT", false, "http://h/next");
    EXPECT_EQ("GET", plan.method);
    EXPECT_FALSE(plan.keepBody);
    EXPECT_EQ("HEAD", PlanRedirect(303, "HEAD", false, "http://h/").method);
}

TEST(HttpRedirectPolicy, NeverFromHttpsToHttpAndOnlyForRedirects) {
    EXPECT_EQ(RedirectAction::Deliver, PlanRedirect(302, "GET", true, "http://h/next").action);
    EXPECT_EQ(RedirectAction::Deliver, PlanRedirect(307, "POST", true, "HTTP://h/next").action);
    EXPECT_EQ(RedirectAction::Follow, PlanRedirect(302, "GET", false, "https://h/next").action);
    for (const int status : {200, 204, 300, 304, 305, 400, 500}) {
        EXPECT_EQ(RedirectAction::Deliver, PlanRedirect(status, "GET", false, "http://h/next").action) << status;
    }
    EXPECT_EQ(RedirectAction::Deliver, PlanRedirect(302, "GET", false, "").action);
    EXPECT_EQ(RedirectAction::Fail, PlanRedirect(302, "GET", false, "ftp://h/file").action);
}

TEST(HttpTransferLimits, MapsTheFourTimeouts) {
    TransferLimits limits = TransferLimitsFor(HttpTimeouts{});
    EXPECT_EQ(60000, limits.connectTimeoutMs);
    EXPECT_EQ(30000, limits.stallMs);

    limits = TransferLimitsFor(HttpTimeouts{true, 500, 500, 1500, 1500});
    EXPECT_EQ(1000, limits.connectTimeoutMs);
    EXPECT_EQ(1500, limits.stallMs);

    limits = TransferLimitsFor(HttpTimeouts{true, 10, 20, 100, 2001});
    EXPECT_EQ(30, limits.connectTimeoutMs);
    EXPECT_EQ(2001, limits.stallMs);

    // Zero is "no limit" for the phase it covers.
    limits = TransferLimitsFor(HttpTimeouts{true, 0, 500, 1500, 0});
    EXPECT_EQ(0, limits.connectTimeoutMs);
    EXPECT_EQ(0, limits.stallMs);

    limits = TransferLimitsFor(HttpTimeouts{true, 2147483647, 2147483647, 2147483647, 1});
    EXPECT_EQ(4294967294LL, limits.connectTimeoutMs);
    EXPECT_EQ(2147483647, limits.stallMs);
}
