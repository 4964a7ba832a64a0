// The LinkLogic object: creation, streamer id, provider table, destruction.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/link_logic_impl.h"
#include "test_support.h"
#include "util/clock.h"

using TesselSDK::EncoderSettings;
using TesselSDK::LinkLogic;
using TesselSDK::LinkLogicImpl;
using TesselSDK::PlatformInterface;

namespace {

struct LogicDeleter {
    void operator()(LinkLogic* logic) const { LinkLogic::Destroy(logic); }
};
using LogicPtr = std::unique_ptr<LinkLogic, LogicDeleter>;

LogicPtr Make(int geType, PlatformInterface pi = PlatformInterface()) {
    return LogicPtr(LinkLogic::Create("2.3.4", geType, std::move(pi)));
}

LinkLogicImpl& Impl(const LogicPtr& p) { return *static_cast<LinkLogicImpl*>(p.get()); }

}  // namespace

TEST(LinkLogicObject, StreamerIdIsMemberGeTypeAndConstructionTime) {
    testsupport::ScopedEnv member("member_no", "M123");
    const long long before = TesselSDK::NowEpochMs();
    auto logic = Make(3);
    const long long after = TesselSDK::NowEpochMs();
    const std::string id = Impl(logic).StreamerId();
    ASSERT_EQ(0u, id.rfind("M123-3-", 0)) << id;
    const std::string ms = id.substr(7);
    ASSERT_FALSE(ms.empty());
    EXPECT_NE('0', ms[0]);
    EXPECT_EQ(std::string::npos, ms.find_first_not_of("0123456789")) << id;
    const long long stamp = std::stoll(ms);
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    // The id is fixed at construction.
    testsupport::SetEnv("member_no", "OTHER");
    EXPECT_EQ(id, Impl(logic).StreamerId());
}

TEST(LinkLogicObject, StreamerIdWithoutMemberNumberAndNegativeGeType) {
    testsupport::ScopedEnv member("member_no");
    auto logic = Make(-2);
    EXPECT_EQ(0u, Impl(logic).StreamerId().rfind("--2-", 0)) << Impl(logic).StreamerId();
}

TEST(LinkLogicObject, FreshObjectHasDefaultsAndFindsNoProfile) {
    auto logic = Make(1);
    EXPECT_EQ("", Impl(logic).SignallingUrl());
    EXPECT_EQ("", Impl(logic).Config().webSocketUrl);
    EXPECT_EQ("", logic->GetEventApiUrl());
    EXPECT_EQ("", logic->GetWindowsEventsApiUrl());
    int a = -1, b = -2, c = -3;
    EXPECT_FALSE(logic->GetBitrateConfig(nullptr, &a, &b, &c));
    EXPECT_FALSE(logic->GetBitrateConfig("AUTO", &a, &b, &c));
    EXPECT_EQ(-1, a);
    EXPECT_EQ(-2, b);
    EXPECT_EQ(-3, c);
    EncoderSettings enc;
    enc.MinQP = 7;
    EXPECT_FALSE(logic->GetEncoderConfig("AUTO", &enc));
    EXPECT_EQ(7, enc.MinQP);
}

TEST(LinkLogicObject, ProviderTableIsFullAndForwards) {
    auto logic = Make(5);
    const TesselSDK::SqmCallbacks t = Impl(logic).BuildProviderTable();
    EXPECT_TRUE(t.logFn);
    EXPECT_TRUE(t.httpGetFn);
    EXPECT_TRUE(t.httpPostFn);
    EXPECT_TRUE(t.envFn);
    EXPECT_TRUE(t.nowMsFn);
    EXPECT_TRUE(t.timeZoneFn);
    EXPECT_TRUE(t.cpuUsageFn);
    EXPECT_TRUE(t.gpuUsageFn);
    EXPECT_TRUE(t.batteryLevelFn);
    EXPECT_TRUE(t.osVersionFn);
    EXPECT_TRUE(t.cpuNameFn);
    EXPECT_TRUE(t.memoryCapacityFn);
    EXPECT_TRUE(t.gpuMemoryCapacityFn);
    EXPECT_TRUE(t.deviceModelFn);
    EXPECT_TRUE(t.deviceTypeFn);
    EXPECT_TRUE(t.screenSizeFn);
    EXPECT_TRUE(t.gpuInfoFn);
    EXPECT_TRUE(t.bitrateConfigFn);
    EXPECT_TRUE(t.accessTokenFn);

    testsupport::ScopedEnv var("TESSELSDK_PROVIDER_PROBE", "value-1");
    EXPECT_EQ("value-1", t.envFn("TESSELSDK_PROVIDER_PROBE"));
    const long long now = TesselSDK::NowEpochMs();
    EXPECT_LE(now, t.nowMsFn());
    EXPECT_GE(now + 5000, t.nowMsFn());

    // The bitrate provider answers what the "AUTO" lookup answers: nothing yet.
    int a = 11, b = 22, c = 33;
    EXPECT_FALSE(t.bitrateConfigFn(a, b, c));
    EXPECT_EQ(11, a);
    EXPECT_EQ(22, b);
    EXPECT_EQ(33, c);

    // The HTTP providers reach the service double and complete once.
    testsupport::ResetServer();
    int status = -1, calls = 0;
    t.httpGetFn(testsupport::ServerUrl() + "/status/204", [&](int s, const std::string&) {
        status = s;
        ++calls;
    });
    EXPECT_EQ(1, calls);
    EXPECT_EQ(204, status);
}

TEST(LinkLogicObject, EmptyPlatformInterfaceAndDestroyRightAfterCreate) {
    testsupport::ResetServer();
    LinkLogic* logic = LinkLogic::Create("1.0", 0, PlatformInterface());
    ASSERT_NE(nullptr, logic);
    LinkLogic::Destroy(logic);
    LinkLogic::Destroy(nullptr);
    // Nothing was sent on the way.
    EXPECT_TRUE(testsupport::Requests("/").empty());
}

TEST(LinkLogicObject, ShutdownThenDestroy) {
    auto logic = Make(0);
    logic->Shutdown();
    logic.reset();  // must not stop the worker a second time or hang
    SUCCEED();
}
