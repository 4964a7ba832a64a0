#include <gtest/gtest.h>

#include <thread>

#include "sqm_record_layout.h"
#include "sqm_test_host.h"

using namespace sqmtest;
using TesselSDK::SQM;
using TesselSDK::SqmTestAccess;

namespace {

// The given number of statistics reports, stepMs apart.
void PushReports(FakeHost& host, SQM& sqm, int count, long long stepMs, const std::string& report = SettledReport()) {
    for (int i = 0; i < count; ++i) {
        host.AdvanceMs(stepMs);
        sqm.PushWebRTCStatsReport("p1", report.c_str());
    }
}

void PushEverySecond(FakeHost& host, SQM& sqm, int seconds, const std::string& report = SettledReport()) {
    PushReports(host, sqm, seconds, 1000, report);
}

std::vector<long long> SeqNos(const Post& post) {
    std::vector<long long> seq;
    const Json record = post.Record();
    for (const auto& m : record["action_data"]["data"]) seq.push_back(m["seq_no"].get<long long>());
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
    PushEverySecond(host, *sqm, 1);                                      // t = 60
    ASSERT_EQ(1u, host.Posts().size());
    EXPECT_EQ(1, host.CountLogs(0, "[TesselSDK::SQM] Sending START_STREAMING..."));
    EXPECT_EQ(t0, host.Posts()[0].Record()["action_data"]["streaming_start_time_ms"]);

    // The batch timer starts at the first sample after START was answered
    // (t = 65); the first batch comes 30 s later with every sample so far.
    PushEverySecond(host, *sqm, 34);  // t = 94
    EXPECT_EQ(1u, host.Posts().size());
    PushEverySecond(host, *sqm, 1);  // t = 95
    ASSERT_EQ(2u, host.Posts().size());
    const Json batch = host.Posts()[1].Record();
    ExpectRecordLayout(batch);
    EXPECT_EQ("M1-7-1700-p1", batch["player_id"]);
    const Json& data = batch["action_data"]["data"];
    ASSERT_EQ(19u, data.size());
    EXPECT_EQ(19, data[18]["seq_no"]);
    EXPECT_EQ(5000, data[0]["offset_time_ms"]);
    EXPECT_EQ(t0 + 5000, data[0]["timestamp"]);
    EXPECT_EQ(t0 + 95000, data[18]["timestamp"]);

    // Later batches every 30 s with only their own samples.
    PushEverySecond(host, *sqm, 30);  // t = 125
    ASSERT_EQ(3u, host.Posts().size());
    EXPECT_EQ((std::vector<long long>{20, 21, 22, 23, 24, 25}), SeqNos(host.Posts()[2]));

    PushEverySecond(host, *sqm, 7);  // t = 132: sample 26 at t = 130
    sqm->OnStreamingEnd("p1", nullptr);
    ASSERT_EQ(4u, host.Posts().size());
    const Json end = host.Posts()[3].Record();
    ExpectRecordLayout(end);
    EXPECT_EQ(t0 + 132000, end["action_data"]["streaming_end_time_ms"]);
    EXPECT_EQ(132000, end["action_data"]["streaming_session_duration_ms"]);
    EXPECT_EQ((std::vector<long long>{26, 27}), SeqNos(host.Posts()[3]));
    EXPECT_EQ(t0 + 132000, end["action_data"]["data"][1]["timestamp"]);

    // A second end right after finds START not sent and posts nothing.
    sqm->OnStreamingEnd("p1", nullptr);
    EXPECT_EQ(4u, host.Posts().size());
    EXPECT_EQ(1, host.CountLogs(0, "[TesselSDK::SQM] END before START sent - clear buffered START/DURING metrics "
                                   "and skip END."));
}

TEST(SqmSession, EndBeforeStartSentPostsNothing) {
    FakeHost host;
    auto sqm = MakeCollector(host);
    sqm->OnStreamingStart("p1", "");
    PushEverySecond(host, *sqm, 20);
    sqm->OnStreamingEnd("p1", "");
    EXPECT_EQ(1, host.CountLogs(0, "END before START sent"));
    EXPECT_TRUE(SqmTestAccess::Impl(*sqm).session.samples.empty());
    PushEverySecond(host, *sqm, 60);  // the pending START went with the session
    EXPECT_TRUE(host.Posts().empty());
}

TEST(SqmSession, StatisticsBeforeAnyStartTwoStartsAndForeignEnds) {
    FakeHost host;
    auto sqm = MakeCollector(host, EnabledConfig(5, 0, 30));
    auto& impl = SqmTestAccess::Impl(*sqm);
    // Samples before any start are unnumbered and never posted.
    PushEverySecond(host, *sqm, 12);
    ASSERT_EQ(2u, impl.session.samples.size());
    const Json second = Json::parse(impl.session.samples[1]);
    EXPECT_EQ(0, second["seq_no"]);
    EXPECT_EQ(0, second["offset_time_ms"]);
    EXPECT_TRUE(host.Posts().empty());

    sqm->OnStreamingStart("A", "");
    PushEverySecond(host, *sqm, 11);  // START on the first report, then two new samples
    ASSERT_EQ(1u, host.Posts().size());
    EXPECT_EQ(2u, impl.session.samples.size());

    sqm->OnStreamingStart("B", "");
    EXPECT_TRUE(impl.session.samples.empty());
    EXPECT_EQ(0, impl.session.seqNo);
    EXPECT_TRUE(impl.session.startPending);
    EXPECT_FALSE(impl.session.startSent);
    EXPECT_EQ(2u, impl.startTimes.size());
    // Codec and ICE facts of the first session still count: a report without
    // either builds the second START.
    host.AdvanceSeconds(1);
    sqm->PushWebRTCStatsReport("B", "");
    ASSERT_EQ(2u, host.Posts().size());
    EXPECT_EQ("M1-7-1700-B", host.Posts()[1].Record()["player_id"]);

    // An end for a player without a recorded start: duration null; A stays.
    sqm->OnStreamingEnd("C", nullptr);
    ASSERT_EQ(3u, host.Posts().size());
    const Json end = host.Posts()[2].Record();
    EXPECT_EQ("M1-7-1700-C", end["player_id"]);
    EXPECT_TRUE(end["action_data"]["streaming_session_duration_ms"].is_null());
    EXPECT_EQ(2u, impl.startTimes.size());

    // A null player after the start times were cleared: "-" ends the id, no duration.
    sqm->OnStreamingStart(nullptr, nullptr);
    PushEverySecond(host, *sqm, 1);
    sqm->ClearStartTimes();
    sqm->OnStreamingEnd(nullptr, nullptr);
    ASSERT_EQ(5u, host.Posts().size());
    EXPECT_EQ("M1-7-1700-", host.Posts()[4].Record()["player_id"]);
    EXPECT_TRUE(host.Posts()[4].Record()["action_data"]["streaming_session_duration_ms"].is_null());
}

TEST(SqmSession, DisabledOrClocklessCollectorBuildsNothing) {
    FakeHost host;
    auto off = MakeCollector(host, TesselSDK::SqmConfig());
    off->OnStreamingStart("p", "");
    PushEverySecond(host, *off, 70);
    off->OnStreamingEnd("p", "");
    EXPECT_TRUE(SqmTestAccess::Impl(*off).startTimes.empty());
    off->MarkPlayerConnected();  // needs only the clock
    EXPECT_EQ(host.Now(), SqmTestAccess::Impl(*off).session.playerConnectedMs);

    auto callbacks = host.Callbacks();
    callbacks.nowMsFn = nullptr;
    auto noClock = MakeCollector(host, EnabledConfig(), callbacks);
    noClock->OnStreamingStart("p", "");
    noClock->MarkPlayerConnected();
    PushEverySecond(host, *noClock, 70);
    EXPECT_EQ(0, SqmTestAccess::Impl(*noClock).session.playerConnectedMs);
    EXPECT_TRUE(SqmTestAccess::Impl(*noClock).iceKnown);  // the intake still runs
    EXPECT_TRUE(host.Posts().empty());
    EXPECT_EQ(0, host.geoCount);
}

TEST(SqmSession, FirstBatchHoldsEverySampleSinceTheStart) {
    const struct {
        int collect, delay, batch;
        long long stepMs;
        int reports;
        std::size_t samples;
    } cases[] = {
        {1, 300, 30, 1000, 340, 331},  // a long start delay: samples 1 to 331 in the first batch
        {0, 0, 30, 100, 310, 302},     // a sample at every report, ten reports a second
    };
    for (const auto& c : cases) {
        FakeHost host;
        auto sqm = MakeCollector(host, EnabledConfig(c.collect, c.delay, c.batch));
        sqm->OnStreamingStart("p1", "");
        PushReports(host, *sqm, c.reports, c.stepMs);
        const auto batches = host.PostsOf("DURING_STREAMING");
        ASSERT_EQ(1u, batches.size()) << c.collect;
        const std::vector<long long> seq = SeqNos(batches[0]);
        ASSERT_EQ(c.samples, seq.size()) << c.collect;
        EXPECT_EQ(1, seq.front());
        EXPECT_EQ(static_cast<long long>(c.samples), seq.back());
        EXPECT_EQ(0, host.CountLogs(1, "Sample buffer full"));
    }
}

TEST(SqmSession, SampleBufferIsBoundedByBytes) {
    FakeHost host;
    auto sqm = MakeCollector(host, EnabledConfig(0, 100000, 30));  // START never due: batches stay closed
    // A statistics text of 256 KiB makes every sample as large.
    const std::string report =
        Report({{"outbound-rtp", Json{{"kind", "video"}, {"encoderImplementation", std::string(256 * 1024, 'x')}}}});
    sqm->OnStreamingStart("p", "");
    PushEverySecond(host, *sqm, 60, report);
    auto& s = SqmTestAccess::Impl(*sqm).session;
    EXPECT_GE(s.samples.size(), 28u);
    EXPECT_LE(s.samples.size(), 32u);  // 8 MiB of samples
    EXPECT_LE(s.sampleBytes, TesselSDK::kSampleBufferBytes);
    EXPECT_EQ(60, Json::parse(s.samples.back())["seq_no"]);  // the newest are kept
    EXPECT_EQ(1, host.CountLogs(1, "Sample buffer full"));
    // A new burst after the buffer was emptied logs again.
    sqm->OnStreamingStart("p", "");
    PushEverySecond(host, *sqm, 40, report);
    EXPECT_EQ(2, host.CountLogs(1, "Sample buffer full"));
}

TEST(SqmSession, StaleStartSuccessDoesNotOpenANewSession) {
    FakeHost host;
    auto sqm = MakeCollector(host, EnabledConfig(5, 0, 30));
    auto& impl = SqmTestAccess::Impl(*sqm);
    sqm->SetRetryWaitForTesting([](std::chrono::milliseconds) { return std::chrono::milliseconds(300); });
    host.Answer({500});
    sqm->OnStreamingStart("A", "");
    PushEverySecond(host, *sqm, 1);  // START fails, a retry waits
    sqm->OnStreamingStart("B", "");  // a new session before the retry succeeds
    ASSERT_TRUE(testsupport::WaitUntil([&] { return impl.retries.Running() == 0; }));
    ASSERT_EQ(2u, host.Posts().size());
    EXPECT_FALSE(impl.session.startSent);

    // Within one session, a success after the end still counts.
    host.Answer({500});
    host.AdvanceSeconds(1);
    sqm->PushWebRTCStatsReport("B", "");  // START of B fails
    sqm->OnStreamingEnd("B", "");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return host.Posts().size() >= 4 && impl.retries.Running() == 0; }));
    std::lock_guard<std::mutex> lock(impl.sessionMutex);
    EXPECT_TRUE(impl.session.startSent);
}
