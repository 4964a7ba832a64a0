#include <gtest/gtest.h>

#include <thread>

#include "sqm_record_layout.h"
#include "sqm_test_host.h"

using namespace sqmtest;
using TesselSDK::SQM;
using TesselSDK::SqmTestAccess;

namespace {

// One statistics report per second for the given number of seconds.
void PushEverySecond(FakeHost& host, SQM& sqm, int seconds, const std::string& report = SettledReport()) {
    for (int i = 0; i < seconds; ++i) {
        host.AdvanceSeconds(1);
        sqm.PushWebRTCStatsReport("p1", report.c_str());
    }
}

std::vector<long long> SeqNos(const Json& data) {
    std::vector<long long> seq;
    for (const auto& m : data) seq.push_back(m["seq_no"].get<long long>());
    return seq;
}

}  // namespace

TEST(SqmSession, FullTimelineStartBatchesAndEnd) {
    FakeHost host;
    auto sqm = MakeCollector(host);
    const long long t0 = host.Now();
    sqm->OnStreamingStart("p1", "wifi");
    EXPECT_EQ(1, host.CountLogs(0, "[TesselSDK::SQM] START_STREAMING pending - waiting for WebRTC codec + ICE..."));

    // Codec and ICE are known from the first report, but START waits for the delay.
    PushEverySecond(host, *sqm, 59);
    EXPECT_TRUE(host.Posts().empty());
    EXPECT_EQ(11u, SqmTestAccess::Impl(*sqm).session.samples.size());  // t = 5, 10, ... 55

    PushEverySecond(host, *sqm, 1);  // t = 60
    ASSERT_EQ(1u, host.Posts().size());
    const Json start = host.Posts()[0].Record();
    ExpectStartLayout(start);
    EXPECT_EQ(t0, start["action_data"]["streaming_start_time_ms"]);
    EXPECT_EQ("M1-7-1700-p1", start["player_id"]);
    EXPECT_TRUE(SqmTestAccess::Impl(*sqm).session.startSent);

    // The batch timer starts at the first sample after START was answered
    // (t = 65); the first batch comes 30 s later with every sample so far.
    PushEverySecond(host, *sqm, 34);  // t = 94
    EXPECT_EQ(1u, host.Posts().size());
    PushEverySecond(host, *sqm, 1);  // t = 95
    ASSERT_EQ(2u, host.Posts().size());
    const Json batch = host.Posts()[1].Record();
    ExpectDuringLayout(batch);
    const Json& data = batch["action_data"]["data"];
    ASSERT_EQ(19u, data.size());
    EXPECT_EQ(1, data[0]["seq_no"]);
    EXPECT_EQ(19, data[18]["seq_no"]);
    EXPECT_EQ(5000, data[0]["offset_time_ms"]);
    EXPECT_EQ(t0 + 5000, data[0]["timestamp"]);
    EXPECT_EQ(t0 + 95000, data[18]["timestamp"]);

    // Later batches every 30 s with only their own samples.
    PushEverySecond(host, *sqm, 30);  // t = 125
    ASSERT_EQ(3u, host.Posts().size());
    EXPECT_EQ((std::vector<long long>{20, 21, 22, 23, 24, 25}),
              SeqNos(host.Posts()[2].Record()["action_data"]["data"]));

    PushEverySecond(host, *sqm, 7);  // t = 132: samples 26 (t=130)
    sqm->OnStreamingEnd("p1", nullptr);
    ASSERT_EQ(4u, host.Posts().size());
    const Json end = host.Posts()[3].Record();
    ExpectEndLayout(end);
    EXPECT_EQ(t0 + 132000, end["action_data"]["streaming_end_time_ms"]);
    EXPECT_EQ(132000, end["action_data"]["streaming_session_duration_ms"]);
    const Json& endData = end["action_data"]["data"];
    EXPECT_EQ((std::vector<long long>{26, 27}), SeqNos(endData));
    EXPECT_EQ(t0 + 132000, endData[1]["timestamp"]);

    // Every post carries the token and the gzip headers.
    for (const auto& p : host.Posts()) {
        EXPECT_EQ("Bearer tok", p.headers.at("Authorization"));
        EXPECT_EQ("gzip", p.headers.at("Content-Encoding"));
    }
    // A second end right after finds START not sent and posts nothing.
    sqm->OnStreamingEnd("p1", nullptr);
    EXPECT_EQ(4u, host.Posts().size());
    EXPECT_EQ(1, host.CountLogs(0, "END before START sent"));
}

TEST(SqmSession, EndBeforeStartSentPostsNothing) {
    FakeHost host;
    auto sqm = MakeCollector(host);
    sqm->OnStreamingStart("p1", "");
    PushEverySecond(host, *sqm, 20);
    sqm->OnStreamingEnd("p1", "");
    EXPECT_TRUE(host.Posts().empty());
    EXPECT_EQ(1, host.CountLogs(0, "[TesselSDK::SQM] END before START sent - clear buffered START/DURING metrics "
                                   "and skip END."));
    EXPECT_TRUE(SqmTestAccess::Impl(*sqm).session.samples.empty());
    // The pending START is dropped with the session.
    PushEverySecond(host, *sqm, 60);
    EXPECT_TRUE(host.Posts().empty());
}

TEST(SqmSession, TwoStartsWithoutEndAndForeignEnd) {
    FakeHost host;
    auto sqm = MakeCollector(host, EnabledConfig(5, 0, 30));
    sqm->OnStreamingStart("A", "");
    PushEverySecond(host, *sqm, 1);
    ASSERT_EQ(1u, host.Posts().size());  // delay 0: START on the first report
    PushEverySecond(host, *sqm, 10);
    auto& s = SqmTestAccess::Impl(*sqm).session;
    EXPECT_EQ(2u, s.samples.size());

    sqm->OnStreamingStart("B", "");
    EXPECT_TRUE(s.samples.empty());
    EXPECT_EQ(0, s.seqNo);
    EXPECT_TRUE(s.startPending);
    EXPECT_FALSE(s.startSent);
    EXPECT_EQ(2u, SqmTestAccess::Impl(*sqm).startTimes.size());
    // Codec and ICE facts of the first session still count: a report without
    // either builds the second START.
    host.AdvanceSeconds(1);
    sqm->PushWebRTCStatsReport("B", "");
    ASSERT_EQ(2u, host.Posts().size());
    EXPECT_EQ("M1-7-1700-B", host.Posts()[1].Record()["player_id"]);

    // An end for a player without a recorded start: duration null.
    sqm->OnStreamingEnd("C", nullptr);
    ASSERT_EQ(3u, host.Posts().size());
    EXPECT_EQ("M1-7-1700-C", host.Posts()[2].Record()["player_id"]);
    EXPECT_TRUE(host.Posts()[2].Record()["action_data"]["streaming_session_duration_ms"].is_null());
    EXPECT_EQ(2u, SqmTestAccess::Impl(*sqm).startTimes.size());
}

TEST(SqmSession, NullPlayerEndAndClearedStartTimes) {
    FakeHost host;
    auto sqm = MakeCollector(host, EnabledConfig(5, 0, 30));
    sqm->OnStreamingStart(nullptr, nullptr);
    PushEverySecond(host, *sqm, 1);
    sqm->ClearStartTimes();
    sqm->OnStreamingEnd(nullptr, nullptr);
    ASSERT_EQ(2u, host.Posts().size());
    const Json end = host.Posts()[1].Record();
    EXPECT_EQ("M1-7-1700-", end["player_id"]);
    EXPECT_TRUE(end["action_data"]["streaming_session_duration_ms"].is_null());
}

TEST(SqmSession, StatisticsBeforeAnyStartAreNeverPosted) {
    FakeHost host;
    auto sqm = MakeCollector(host, EnabledConfig(5, 0, 30));
    PushEverySecond(host, *sqm, 12);
    auto& s = SqmTestAccess::Impl(*sqm).session;
    ASSERT_EQ(2u, s.samples.size());
    EXPECT_EQ(0, s.samples[0]["metric_object"]["seq_no"]);
    EXPECT_EQ(0, s.samples[0]["metric_object"]["offset_time_ms"]);
    EXPECT_TRUE(host.Posts().empty());
    sqm->OnStreamingStart("p1", "");
    EXPECT_TRUE(s.samples.empty());
}

TEST(SqmSession, DisabledOrClocklessCollectorDoesNothing) {
    FakeHost host;
    auto off = MakeCollector(host, TesselSDK::SqmConfig());
    off->OnStreamingStart("p", "");
    PushEverySecond(host, *off, 70);
    off->OnStreamingEnd("p", "");
    EXPECT_TRUE(host.Posts().empty());
    EXPECT_EQ(0, host.geoRequests());
    EXPECT_TRUE(SqmTestAccess::Impl(*off).startTimes.empty());
    // Player connected needs only the clock.
    off->MarkPlayerConnected();
    EXPECT_EQ(host.Now(), SqmTestAccess::Impl(*off).session.playerConnectedMs);

    auto callbacks = host.Callbacks();
    callbacks.nowMsFn = nullptr;
    auto noClock = MakeCollector(host, EnabledConfig(), callbacks);
    noClock->OnStreamingStart("p", "");
    noClock->MarkPlayerConnected();
    PushEverySecond(host, *noClock, 70);
    EXPECT_TRUE(host.Posts().empty());
    EXPECT_EQ(0, SqmTestAccess::Impl(*noClock).session.playerConnectedMs);
    EXPECT_TRUE(SqmTestAccess::Impl(*noClock).iceKnown);  // the intake still runs
}

TEST(SqmSession, SampleBufferIsCapped) {
    FakeHost host;
    // A START that is never answered 200 keeps batches closed.
    auto sqm = MakeCollector(host, EnabledConfig(0, 100000, 30));
    sqm->OnStreamingStart("p", "");
    const std::size_t cap = TesselSDK::SampleCap(EnabledConfig(0, 100000, 30));
    EXPECT_GE(cap, 31u * 2);  // at least two whole batch intervals
    PushEverySecond(host, *sqm, static_cast<int>(cap) + 50);
    auto& s = SqmTestAccess::Impl(*sqm).session;
    ASSERT_EQ(cap, s.samples.size());
    EXPECT_EQ(51, s.samples.front()["metric_object"]["seq_no"]);  // the oldest were dropped
    EXPECT_EQ(1, host.CountLogs(1, "Sample buffer full"));
    // A new burst after the buffer was emptied logs again.
    sqm->OnStreamingStart("p", "");
    PushEverySecond(host, *sqm, static_cast<int>(cap) + 1);
    EXPECT_EQ(2, host.CountLogs(1, "Sample buffer full"));

    EXPECT_EQ(TesselSDK::kMaxSampleCap, TesselSDK::SampleCap(EnabledConfig(1, 0, 1000000)));
}

TEST(SqmSession, StaleStartSuccessDoesNotOpenANewSession) {
    FakeHost host;
    auto sqm = MakeCollector(host, EnabledConfig(5, 0, 30));
    sqm->SetRetryWaitForTesting([](std::chrono::milliseconds) { return std::chrono::milliseconds(300); });
    host.Answer({500});
    sqm->OnStreamingStart("A", "");
    PushEverySecond(host, *sqm, 1);  // START fails, a retry waits
    sqm->OnStreamingStart("B", "");  // new session before the retry succeeds
    ASSERT_TRUE(testsupport_wait([&] { return host.Posts().size() >= 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(SqmTestAccess::Impl(*sqm).session.startSent);

    // Within one session, a success after the end still counts.
    host.Answer({500});
    host.AdvanceSeconds(1);
    sqm->PushWebRTCStatsReport("B", "");  // START of B fails
    sqm->OnStreamingEnd("B", "");
    ASSERT_TRUE(testsupport_wait([&] { return host.Posts().size() >= 4; }));
    ASSERT_TRUE(testsupport_wait([&] { return SqmTestAccess::Impl(*sqm).retries.Running() == 0; }));
    std::lock_guard<std::mutex> lock(SqmTestAccess::Impl(*sqm).sessionMutex);
    EXPECT_TRUE(SqmTestAccess::Impl(*sqm).session.startSent);
}
