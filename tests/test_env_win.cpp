// The wide-environment lookup of GetEnvVar: variables a host sets through the
// wide Windows calls, which the C runtime's narrow getenv does not see.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "log/env.h"

using TesselSDK::GetEnvVar;

namespace {

// Sets a variable only in the process's wide environment block; removes it
// again at the end of the scope.
class WideOnlyVar {
public:
    WideOnlyVar(const wchar_t* name, const wchar_t* value) : name_(name) { SetEnvironmentVariableW(name, value); }
    ~WideOnlyVar() { SetEnvironmentVariableW(name_.c_str(), nullptr); }
    WideOnlyVar(const WideOnlyVar&) = delete;
    WideOnlyVar& operator=(const WideOnlyVar&) = delete;

private:
    std::wstring name_;
};

}  // namespace

TEST(GetEnvVarWide, FindsWideOnlyVariablesWithEveryCharacterIntact) {
    {
        WideOnlyVar var(L"TESSELSDK_WIDE_ONLY", L"\u4E2D\u00E9x\U0001F600");
        EXPECT_EQ("\xE4\xB8\xAD\xC3\xA9x\xF0\x9F\x98\x80", GetEnvVar("TESSELSDK_WIDE_ONLY"));
    }
    EXPECT_EQ("", GetEnvVar("TESSELSDK_WIDE_ONLY"));

    WideOnlyVar byName(L"TESSELSDK_NAME_\u00E9\u4E2D", L"found");
    EXPECT_EQ("found", GetEnvVar("TESSELSDK_NAME_\xC3\xA9\xE4\xB8\xAD"));

    std::wstring value(5000, L'\u00FC');
    WideOnlyVar var(L"TESSELSDK_WIDE_LONG", value.c_str());
    std::string expected;
    for (int i = 0; i < 5000; ++i) expected += "\xC3\xBC";
    EXPECT_EQ(expected, GetEnvVar("TESSELSDK_WIDE_LONG"));
}
