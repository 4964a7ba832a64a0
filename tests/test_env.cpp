#include <gtest/gtest.h>

#include <string>

#include "log/env.h"
#include "test_support.h"

using TesselSDK::GetEnvVar;
using testsupport::ScopedEnv;

TEST(GetEnvVar, ReturnsValueOrEmpty) {
    ScopedEnv set("TESSELSDK_TEST_ENV_SET", "some value=with=equals");
    ScopedEnv unset("TESSELSDK_TEST_ENV_UNSET");
    EXPECT_EQ("some value=with=equals", GetEnvVar("TESSELSDK_TEST_ENV_SET"));
    EXPECT_EQ("", GetEnvVar("TESSELSDK_TEST_ENV_UNSET"));
    EXPECT_EQ("", GetEnvVar(""));
}

TEST(GetEnvVar, FollowsChangesAndKeepsBytesUnchanged) {
    ScopedEnv first("TESSELSDK_TEST_ENV_CHANGE", "one");
    EXPECT_EQ("one", GetEnvVar("TESSELSDK_TEST_ENV_CHANGE"));
    {
        ScopedEnv second("TESSELSDK_TEST_ENV_CHANGE", "caf\xC3\xA9 \xE4\xB8\xAD");
        EXPECT_EQ("caf\xC3\xA9 \xE4\xB8\xAD", GetEnvVar("TESSELSDK_TEST_ENV_CHANGE"));
    }
    EXPECT_EQ("one", GetEnvVar("TESSELSDK_TEST_ENV_CHANGE"));
}
