// The LinkLogic object: creation, streamer id, provider table, destruction.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdk_session.h"
#include "util/clock.h"

using TesselSDK::LinkLogic;
using testsupport::MakeLogic;

TEST(LinkLogicObject, StreamerIdIsMemberGeTypeAndConstructionTime) {
    testsupport::ScopedEnv member("member_no", "M123");
    const long long before = TesselSDK::NowEpochMs();
    auto logic = MakeLogic();  // geType 3
    const long long after = TesselSDK::NowEpochMs();
    const std::string id = testsupport::StreamerIdOf(logic.get());
    ASSERT_EQ(0u, id.rfind("M123-3-", 0)) << id;
    const std::string ms = id.substr(7);
    ASSERT_TRUE(!ms.empty() && ms[0] != '0' && ms.find_first_not_of("0123456789") == std::string::npos) << id;
    EXPECT_GE(std::stoll(ms), before);
    EXPECT_LE(std::stoll(ms), after);
    // The id is fixed at construction.
    testsupport::SetEnv("member_no", "OTHER");
    EXPECT_EQ(id, testsupport::StreamerIdOf(logic.get()));

    testsupport::UnsetEnv("member_no");
    LinkLogic* anonymous = LinkLogic::Create("1", -2, TesselSDK::PlatformInterface());
    EXPECT_EQ(0u, testsupport::StreamerIdOf(anonymous).rfind("--2-", 0));
    LinkLogic::Destroy(anonymous);
}

TEST(LinkLogicObject, LookupsBeforeInitialisationWriteNothing) {
    auto logic = MakeLogic();
    int a = 11, b = 22, c = 33;
    EXPECT_FALSE(logic->GetBitrateConfig("AUTO", &a, &b, &c));
    EXPECT_EQ((std::vector<int>{11, 22, 33}), (std::vector<int>{a, b, c}));
    TesselSDK::EncoderSettings enc;
    enc.MinQP = 7;
    EXPECT_FALSE(logic->GetEncoderConfig(nullptr, &enc));
    EXPECT_EQ(7, enc.MinQP);
}

TEST(LinkLogicObject, DestroyRightAfterCreateOrAfterShutdown) {
    testsupport::ResetServer();
    LinkLogic::Destroy(LinkLogic::Create("1.0", 0, TesselSDK::PlatformInterface()));
    LinkLogic::Destroy(nullptr);
    EXPECT_TRUE(testsupport::Requests("/").empty()) << "nothing is sent on the way";

    auto logic = MakeLogic();
    logic->Shutdown();
    logic.reset();  // must not stop the worker a second time or hang
}
