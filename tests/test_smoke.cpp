#include <gtest/gtest.h>

#include "test_support.h"

TEST(Smoke, ServiceDoubleAnswers) {
    testsupport::ResetServer();
    auto r = testsupport::RawHttp("GET", "/status/404");
    EXPECT_EQ(404, r.status);
    auto reqs = testsupport::Requests("/status");
    ASSERT_EQ(1u, reqs.size());
    EXPECT_EQ("GET", reqs[0].method);
}
