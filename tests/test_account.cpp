// Account access through the platform library (the development stand-in,
// which answers from OMBREL_ACCESS_TOKEN, OMBREL_LANGUAGE and OMBREL_NATION).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "platform/account.h"
#include "test_support.h"

using TesselSDK::GetAccessToken;
using TesselSDK::GetPlatformLanguageAndNation;
using TesselSDK::GetPlatformNation;
using testsupport::ScopedEnv;

namespace {

// Sets a variable to a non-ASCII value. Windows keeps the environment in
// UTF-16, so the value goes in through the wide call there.
class ScopedUnicodeEnv {
public:
    ScopedUnicodeEnv(const char* name, const wchar_t* wide, const std::string& utf8) : guard_(name) {
#if defined(_WIN32)
        (void)utf8;
        std::wstring wname(name, name + std::char_traits<char>::length(name));
        SetEnvironmentVariableW(wname.c_str(), wide);
#else
        (void)wide;
        testsupport::SetEnv(name, utf8);
#endif
    }

private:
    ScopedEnv guard_;  // unsets now, restores at the end
};

const char kKoreanUtf8[] = "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4";  // 한국어
const wchar_t kKoreanWide[] = L"\xD55C\xAD6D\xC5B4";

}  // namespace

TEST(AccessToken, FromLibraryOrEmpty) {
    {
        ScopedEnv token("OMBREL_ACCESS_TOKEN", "eyJhbGciOi.payload.sig-123");
        EXPECT_EQ("eyJhbGciOi.payload.sig-123", GetAccessToken());
    }
    {
        ScopedEnv token("OMBREL_ACCESS_TOKEN");
        EXPECT_EQ("", GetAccessToken());
    }
    {
        // The longest token that fits the 1024-unit buffer with its terminator.
        const std::string longest(1023, 't');
        ScopedEnv token("OMBREL_ACCESS_TOKEN", longest);
        EXPECT_EQ(longest, GetAccessToken());
    }
    {
        // One more does not fit: the library reports failure.
        ScopedEnv token("OMBREL_ACCESS_TOKEN", std::string(1024, 't'));
        EXPECT_EQ("", GetAccessToken());
    }
    {
        ScopedUnicodeEnv token("OMBREL_ACCESS_TOKEN", kKoreanWide, kKoreanUtf8);
        EXPECT_EQ(kKoreanUtf8, GetAccessToken());
    }
}

TEST(LanguageAndNation, SettingsOfTheUser) {
    ScopedUnicodeEnv language("OMBREL_LANGUAGE", kKoreanWide, kKoreanUtf8);
    ScopedEnv nation("OMBREL_NATION", "KR");
    std::string lang = "en-US", nat = "US";
    ASSERT_TRUE(GetPlatformLanguageAndNation(lang, nat));
    EXPECT_EQ(kKoreanUtf8, lang);
    EXPECT_EQ("KR", nat);

    std::string onlyNation = "US";
    ASSERT_TRUE(GetPlatformNation(onlyNation));
    EXPECT_EQ("KR", onlyNation);
}

TEST(LanguageAndNation, EmptySettingsReplaceTheDefaults) {
    ScopedEnv language("OMBREL_LANGUAGE", "");
    ScopedEnv nation("OMBREL_NATION", "");
    std::string lang = "en-US", nat = "US";
    ASSERT_TRUE(GetPlatformLanguageAndNation(lang, nat));
    EXPECT_EQ("", lang);
    EXPECT_EQ("", nat);
    std::string onlyNation = "US";
    ASSERT_TRUE(GetPlatformNation(onlyNation));
    EXPECT_EQ("", onlyNation);
}

TEST(LanguageAndNation, FailureLeavesOutputsUntouched) {
    struct Case {
        bool languageSet;
        bool nationSet;
    };
    for (const Case c : {Case{false, false}, Case{true, false}, Case{false, true}}) {
        auto language = c.languageSet ? std::make_unique<ScopedEnv>("OMBREL_LANGUAGE", "ko-KR")
                                      : std::make_unique<ScopedEnv>("OMBREL_LANGUAGE");
        auto nation = c.nationSet ? std::make_unique<ScopedEnv>("OMBREL_NATION", "KR")
                                  : std::make_unique<ScopedEnv>("OMBREL_NATION");
        std::string lang = "en-US", nat = "US";
        EXPECT_FALSE(GetPlatformLanguageAndNation(lang, nat));
        EXPECT_EQ("en-US", lang);
        EXPECT_EQ("US", nat);
        std::string onlyNation = "US";
        EXPECT_FALSE(GetPlatformNation(onlyNation));
        EXPECT_EQ("US", onlyNation);
    }
}

TEST(AccountAccess, ConcurrentCallers) {
    ScopedEnv token("OMBREL_ACCESS_TOKEN", "token-abc");
    ScopedUnicodeEnv language("OMBREL_LANGUAGE", kKoreanWide, kKoreanUtf8);
    ScopedEnv nation("OMBREL_NATION", "KR");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            for (int j = 0; j < 300; ++j) {
                if (GetAccessToken() != "token-abc") ++wrong;
                std::string lang, nat;
                if (!GetPlatformLanguageAndNation(lang, nat) || lang != kKoreanUtf8 || nat != "KR") ++wrong;
                std::string onlyNation;
                if (!GetPlatformNation(onlyNation) || onlyNation != "KR") ++wrong;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(0, wrong.load());
}
