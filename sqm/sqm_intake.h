// Reading a WebRTC statistics report: the facts the collector keeps from one
// report, read in one pass without building a document tree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace TesselSDK {

// The tracked statistic names, in their fixed order.
constexpr std::size_t kTrackedStatCount = 53;
// The name at an index below kTrackedStatCount.
const std::string& TrackedStatName(std::size_t index);
// Index of a tracked name (exact, case-sensitive), -1 for any other name.
int TrackedStatIndex(std::string_view name);

// Facts of one report other than the tracked statistics.
enum class ReportFact : std::uint8_t {
    TargetBitrate,  // of a video "outbound-rtp" entry
    VideoMimeType,
    VideoClockRate,
    VideoSdpFmtpLine,
    OtherMimeType,
    OtherClockRate,
    OtherSdpFmtpLine,
    // Candidate facts that reach the ICE facts only when the report names a
    // candidate type.
    LocalCandidateType,
    LocalAddress,
    LocalNetworkType,
    RemoteCandidateType,
    RemoteAddress,
    // Candidate facts stored as read.
    LocalVpn,
    LocalRelayProtocol,
    RemotePort,
    RemoteProtocol,
    RemoteRelayProtocol,
    Count
};

// What one report gives: for each tracked statistic and each other fact the
// latest text the report holds, if it holds one. Statistic and codec texts
// are trimmed; candidate texts are as read.
struct StatsReportFacts {
    // The root is an object whose (last) "stats" member is an array.
    bool hasStats = false;
    std::array<std::string, kTrackedStatCount> stats;
    std::uint64_t statsSet = 0;  // bit i: stats[i] holds a text
    std::array<std::string, static_cast<std::size_t>(ReportFact::Count)> facts;
    std::uint32_t factsSet = 0;

    bool HasStat(std::size_t index) const { return (statsSet >> index & 1u) != 0; }
    bool Has(ReportFact f) const { return (factsSet >> static_cast<unsigned>(f) & 1u) != 0; }
    // The fact's text, "" when the report gave none.
    const std::string& Text(ReportFact f) const;
    void Clear() {
        hasStats = false;
        statsSet = 0;
        factsSet = 0;
    }
};

// Reads a report (strict JSON, no comments). False when the text is not JSON
// or nests arrays and objects deeper than kMaxJsonDepth; facts are then
// incomplete and must not be used.
bool ReadStatsReport(std::string_view text, StatsReportFacts& facts);

}  // namespace TesselSDK
