// The platform-independent logic of the HTTP client: widening, URL splitting
// and escaping, and the redirect policy.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/http_redirect_policy.h"
#include "net/http_text_widen.h"
#include "net/http_url.h"
#if !defined(_WIN32)
#include "net/http_request_target_linux.h"
#endif

using namespace TesselSDK;

TEST(HttpWiden, HeaderBytesAreZeroExtendedAndUrlsDecodedFromUtf8) {
    // The bytes 0x80..0xFF keep their value instead of becoming U+FF80..U+FFFF.
    EXPECT_EQ(std::u16string({u'a', char16_t(0xE9), char16_t(0xC3), char16_t(0xA9)}), WidenBytes("a\xE9\xC3\xA9"));
    EXPECT_EQ(u"/caf\u00E9/\u20AC", WidenUrl("/caf\xC3\xA9/\xE2\x82\xAC"));
    EXPECT_EQ(std::u16string({u'/', char16_t(0xD83D), char16_t(0xDE00)}), WidenUrl("/\xF0\x9F\x98\x80"));
    EXPECT_EQ(4u, WidenedUrlLength("/\xF0\x9F\x98\x80\xC3\xA9"));
    // A Latin-1 byte, an overlong '/', an encoded surrogate, a cut sequence,
    // a code point above U+10FFFF: each makes the whole text bytes.
    for (const std::string bad : {"\xC3\xA9/caf\xE9", "/\xC0\xAF", "/\xED\xA0\x80", "/\xE2\x82", "/\xF4\x90\x80\x80"}) {
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
        EXPECT_EQ(WidenBytes(bad), WidenUrl(bad)) << bad;
        EXPECT_EQ(bad.size(), WidenedUrlLength(bad)) << bad;
    }
}

TEST(HttpUrl, SplitsAsTheWindowsTransportCracks) {
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
    EXPECT_EQ("?x=1", p.pathAndQuery);

    for (const char* bad : {"", "127.0.0.1/x", "ftp://h/x", "http:/h/x", "http://:80/x", "http://h:65536/",
                            "http://h:8o/", "http://[::1/x"}) {
        EXPECT_FALSE(SplitHttpUrl(bad, p)) << bad;
    }
}

TEST(HttpUrl, LimitsCountUtf16UnitsOfHostAndTarget) {
    HttpUrlParts p;
    const std::string okHost(255, 'h');
    EXPECT_TRUE(SplitHttpUrl("http://" + okHost + "/", p));
    EXPECT_FALSE(SplitHttpUrl("http://" + okHost + "h/", p));

    // 1022 characters of which 500 are two UTF-8 bytes: 1023 units, 1523 bytes.
    std::string utf8Path = "/";
    for (int i = 0; i < 500; ++i) utf8Path += "\xC3\xA9";
    utf8Path += std::string(522, 'p');
    EXPECT_TRUE(SplitHttpUrl("http://h" + utf8Path, p));
    EXPECT_FALSE(SplitHttpUrl("http://h" + utf8Path + "p", p));
    // The same bytes with one Latin-1 byte elsewhere count one unit per byte.
    EXPECT_FALSE(SplitHttpUrl("http://h\xE9" + utf8Path, p));
}

#if !defined(_WIN32)
TEST(HttpUrl, RequestTargetEscapesLikeTheWindowsTransport) {
    EXPECT_EQ("/", EscapeRequestTarget(""));
    EXPECT_EQ("/a/b?c=d&e=%41", EscapeRequestTarget("/a/b?c=d&e=%41"));
    EXPECT_EQ("/a%20b%22%3C%3E%5C%5E%60%7B%7C%7D%7F%09", EscapeRequestTarget("/a b\"<>\\^`{|}\x7F\t"));
    EXPECT_EQ("/caf%C3%A9/%F0%9F%98%80", EscapeRequestTarget("/caf\xC3\xA9/\xF0\x9F\x98\x80"));
    // Not UTF-8: each byte is a character of its own, sent as its UTF-8 form.
    EXPECT_EQ("/caf%C3%A9", EscapeRequestTarget("/caf\xE9"));
}
#endif

TEST(HttpRedirectPolicy, FollowsLikeTheWindowsTransport) {
    // From "http(s)://h/dir/page" (port 80 or 443).
    const struct {
        int status;
        const char* method;
        bool fromSecure;
        const char* location;
        RedirectAction action;
        const char* newMethod;
        bool keepBody;
        const char* target;  // scheme, host, port and path of the next request
        bool crossOrigin;
    } cases[] = {
        {302, "GET", false, "http://h/next", RedirectAction::Follow, "GET", true, "http://h:80/next", false},
        {302, "POST", false, "http://H:80/next", RedirectAction::Follow, "GET", false, "http://H:80/next", false},
        {301, "PUT", true, "https://h/next", RedirectAction::Follow, "PUT", true, "https://h:443/next", false},
        {307, "POST", false, "https://h/next", RedirectAction::Follow, "POST", true, "https://h:443/next", true},
        {308, "POST", false, "http://h:8080/next", RedirectAction::Follow, "POST", true, "http://h:8080/next", true},
        {307, "GET", false, "http://other/next", RedirectAction::Follow, "GET", true, "http://other:80/next", true},
        {303, "PUT", false, "//other/x", RedirectAction::Follow, "GET", false, "http://other:80/x", true},
        {302, "GET", false, "/root?q", RedirectAction::Follow, "GET", true, "http://h:80/root?q", false},
        {302, "GET", true, "sibling", RedirectAction::Follow, "GET", true, "https://h:443/dir/sibling", false},
        // Never from HTTPS to HTTP; only for redirects with a target.
        {302, "GET", true, "http://h/next", RedirectAction::Deliver, "", false, "", false},
        {307, "POST", true, "HTTP://h/next", RedirectAction::Deliver, "", false, "", false},
        {304, "GET", false, "http://h/next", RedirectAction::Deliver, "", false, "", false},
        {302, "GET", false, "", RedirectAction::Deliver, "", false, "", false},
        {302, "GET", false, "ftp://h/file", RedirectAction::Fail, "", false, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " " + c.method + " " + c.location);
        HttpUrlParts from;
        ASSERT_TRUE(SplitHttpUrl(std::string(c.fromSecure ? "https" : "http") + "://h/dir/page", from));
        const RedirectPlan plan = PlanRedirect(c.status, c.method, from, c.location);
        EXPECT_EQ(c.action, plan.action);
        if (c.action != RedirectAction::Follow) continue;
        EXPECT_EQ(c.newMethod, plan.method);
        EXPECT_EQ(c.keepBody, plan.keepBody);
        EXPECT_EQ(c.target, std::string(plan.target.secure ? "https" : "http") + "://" + plan.target.host + ":" +
                                std::to_string(plan.target.port) + plan.target.pathAndQuery);
        EXPECT_EQ(c.crossOrigin, plan.crossOrigin);
    }
    EXPECT_EQ((std::vector<std::string>{"Caller-Id: c", "X: authorization"}),
              WithoutAuthorization({"Authorization: Bearer t", "Caller-Id: c", "authorization: x", "X: authorization"}));
}
