// Account access through the platform library (the development stand-in,
// which answers from OMBREL_ACCESS_TOKEN, OMBREL_LANGUAGE and OMBREL_NATION).
#include <gtest/gtest.h>

#include <string>

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
    const std::string longest(1023, 't');  // fits the 1024-unit buffer with its terminator
    for (const std::string& value : {std::string("eyJhbGciOi.payload.sig-123"), longest}) {
        ScopedEnv token("OMBREL_ACCESS_TOKEN", value);
        EXPECT_EQ(value, GetAccessToken());
    }
    {
        // One more does not fit: the library reports failure.
        ScopedEnv token("OMBREL_ACCESS_TOKEN", std::string(1024, 't'));
        EXPECT_EQ("", GetAccessToken());
    }
    {
        ScopedEnv token("OMBREL_ACCESS_TOKEN");
        EXPECT_EQ("", GetAccessToken());
    }
    ScopedUnicodeEnv token("OMBREL_ACCESS_TOKEN", kKoreanWide, kKoreanUtf8);
    EXPECT_EQ(kKoreanUtf8, GetAccessToken());
}

TEST(LanguageAndNation, SettingsReplaceTheDefaultsEvenWhenEmpty) {
    {
        ScopedUnicodeEnv language("OMBREL_LANGUAGE", kKoreanWide, kKoreanUtf8);
        ScopedEnv nation("OMBREL_NATION", "KR");
        std::string lang = "en-US", nat = "US", onlyNation = "US";
        ASSERT_TRUE(GetPlatformLanguageAndNation(lang, nat));
        EXPECT_EQ(kKoreanUtf8, lang);
        EXPECT_EQ("KR", nat);
        ASSERT_TRUE(GetPlatformNation(onlyNation));
        EXPECT_EQ("KR", onlyNation);
    }
    ScopedEnv language("OMBREL_LANGUAGE", "");
    ScopedEnv nation("OMBREL_NATION", "");
    std::string lang = "en-US", nat = "US", onlyNation = "US";
    ASSERT_TRUE(GetPlatformLanguageAndNation(lang, nat));
    EXPECT_EQ("", lang);
    EXPECT_EQ("", nat);
    ASSERT_TRUE(GetPlatformNation(onlyNation));
    EXPECT_EQ("", onlyNation);
}

TEST(LanguageAndNation, FailureLeavesOutputsUntouched) {
    ScopedEnv language("OMBREL_LANGUAGE", "ko-KR");
    ScopedEnv nation("OMBREL_NATION");
    std::string lang = "en-US", nat = "US", onlyNation = "US";
    EXPECT_FALSE(GetPlatformLanguageAndNation(lang, nat));
    EXPECT_EQ("en-US", lang);
    EXPECT_EQ("US", nat);
    EXPECT_FALSE(GetPlatformNation(onlyNation));
    EXPECT_EQ("US", onlyNation);
}
