// Statistics-report intake: what one push keeps from a WebRTC report, and
// the order of work of a push.
//
// The report is read by a SAX handler that keeps only the members it needs.
// It gives the same facts a document tree would: where an object repeats a
// key, the key keeps its first place and takes its last value; a value that
// is not a string becomes the compact JSON text the library would serialise.
#include "sqm/sqm_intake.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "sqm/sqm.h"
#include "sqm/sqm_impl.h"
#include "sqm/sqm_text.h"
#include "util/json_parse.h"
#include "util/json_text.h"
#include "util/text.h"

namespace TesselSDK {
namespace {

// The parser's token buffer. The library's lexer appends to it one byte at a
// time; with std::string every byte is an out-of-line call, which makes up a
// third of the reading. Holds its bytes followed by a NUL, as the lexer's
// number conversion expects. The other members serve only the library's
// binary formats, which are never used here.
class TokenText {
public:
    using value_type = char;
    using size_type = std::size_t;
    using traits_type = std::char_traits<char>;

    TokenText() = default;
    // Implicit, as std::string's are.
    TokenText(const char* text) { append(text, traits_type::length(text)); }
    TokenText(const std::string& text) { append(text.data(), text.size()); }
    TokenText(std::size_t count, char c) {
        while (count-- > 0) push_back(c);
    }
    TokenText(const TokenText& other) { append(other); }
    TokenText& operator=(const TokenText& other) {
        if (this != &other) {
            clear();
            append(other);
        }
        return *this;
    }
    ~TokenText() = default;

    void push_back(char c) {
        if (size_ == capacity_) Grow();
        bytes_[size_++] = c;
    }
    void append(const char* text, std::size_t count) {
        while (count-- > 0) push_back(*text++);
    }
    void append(const TokenText& other) { append(other.bytes_.get(), other.size_); }
    void clear() { size_ = 0; }
    // Terminated on demand: the buffer always has room for the NUL.
    const char* data() const {
        if (!bytes_) return "";
        bytes_[size_] = '\0';
        return bytes_.get();
    }
    std::size_t size() const { return size_; }
    std::string_view view() const { return std::string_view(data(), size_); }

private:
    void Grow() {
        const std::size_t capacity = capacity_ * 2 + 64;
        std::unique_ptr<char[]> bigger(new char[capacity + 1]);
        if (size_ > 0) traits_type::copy(bigger.get(), bytes_.get(), size_);
        bytes_ = std::move(bigger);
        capacity_ = capacity;
    }

    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// The library's JSON with that buffer; only its SAX reading is used.
using Json = nlohmann::basic_json<nlohmann::ordered_map, std::vector, TokenText>;

constexpr const char* kUnreadable = "[TesselSDK::SQM] Failed to parse StatsJson";

// Members read from an entry's "members": the tracked names (their index is
// their place in the tracked list), then four more.
constexpr std::string_view kMemberNames[] = {
    "bytesSent", "bytesReceived", "packetsSent", "packetsReceived", "packetsLost", "framesSent", "framesReceived",
    "framesEncoded", "framesDecoded", "framesDropped", "frameWidth", "frameHeight", "framesPerSecond", "jitter",
    "roundTripTime", "currentRoundTripTime", "availableOutgoingBitrate", "availableIncomingBitrate", "qpSum",
    "totalEncodeTime", "totalPacketSendDelay", "mimeType", "clockRate", "sdpFmtpLine", "firCount", "pliCount",
    "nackCount", "sliCount", "retransmittedBytesSent", "messagesSent", "messagesReceived", "candidateType",
    "address", "networkType", "protocol", "port", "keyFramesEncoded", "totalEncodedBytesTarget",
    "encoderImplementation", "powerEfficientEncoder", "scalabilityMode", "hugeFramesSent",
    "qualityLimitationReason", "qualityLimitationDurationNone", "qualityLimitationDurationCpu",
    "qualityLimitationDurationBandwidth", "qualityLimitationDurationOther", "qualityLimitationResolutionChanges",
    "retransmittedPacketsSent", "fractionLost", "totalRoundTripTime", "roundTripTimeMeasurements",
    "qualityLimitationDurations",
    // Not tracked:
    "vpn", "relayProtocol", "targetBitrate", "kind"};
constexpr int kMemberCount = static_cast<int>(sizeof(kMemberNames) / sizeof(kMemberNames[0]));
static_assert(kMemberCount == static_cast<int>(kTrackedStatCount) + 4, "tracked names first, then four");
static_assert(kMemberCount <= 64, "member flags fit one word");

// The index of a member name (a name missing from the table stops the build).
constexpr int MemberSlot(std::string_view name) {
    int i = 0;
    while (kMemberNames[i] != name) ++i;  // past the end: not a constant expression
    return i;
}

// Indexes of the members the entry rules read.
constexpr int kMimeType = MemberSlot("mimeType");
constexpr int kClockRate = MemberSlot("clockRate");
constexpr int kSdpFmtpLine = MemberSlot("sdpFmtpLine");
constexpr int kCandidateType = MemberSlot("candidateType");
constexpr int kAddress = MemberSlot("address");
constexpr int kNetworkType = MemberSlot("networkType");
constexpr int kProtocol = MemberSlot("protocol");
constexpr int kPort = MemberSlot("port");
constexpr int kVpn = MemberSlot("vpn");
constexpr int kRelayProtocol = MemberSlot("relayProtocol");
constexpr int kTargetBitrate = MemberSlot("targetBitrate");
constexpr int kKind = MemberSlot("kind");

// Which member of a candidate entry gives which ICE fact.
struct MemberFact {
    int slot;
    ReportFact fact;
};
constexpr MemberFact kLocalCandidateFacts[] = {
    {kCandidateType, ReportFact::LocalCandidateType}, {kAddress, ReportFact::LocalAddress},
    {kNetworkType, ReportFact::LocalNetworkType},     {kVpn, ReportFact::LocalVpn},
    {kRelayProtocol, ReportFact::LocalRelayProtocol}};
constexpr MemberFact kRemoteCandidateFacts[] = {
    {kCandidateType, ReportFact::RemoteCandidateType}, {kAddress, ReportFact::RemoteAddress},
    {kPort, ReportFact::RemotePort},                   {kProtocol, ReportFact::RemoteProtocol},
    {kRelayProtocol, ReportFact::RemoteRelayProtocol}};

// Open-addressing table from a member name to its index.
class MemberIndex {
public:
    MemberIndex() {
        slots_.fill(-1);
        for (int i = 0; i < kMemberCount; ++i) {
            std::size_t h = Hash(kMemberNames[i]);
            while (slots_[h] >= 0) h = (h + 1) % slots_.size();
            slots_[h] = static_cast<std::int8_t>(i);
        }
    }
    int Find(std::string_view name) const {
        if (name.empty()) return -1;
        for (std::size_t h = Hash(name);; h = (h + 1) % slots_.size()) {
            const int i = slots_[h];
            if (i < 0 || kMemberNames[i] == name) return i;
        }
    }

private:
    static std::size_t Hash(std::string_view s) {
        const auto at = [&s](std::size_t i) { return static_cast<std::size_t>(static_cast<unsigned char>(s[i])); };
        return (s.size() * 131 + at(0) * 31 + at(s.size() / 2) * 7 + at(s.size() - 1)) % 256;
    }
    std::array<std::int8_t, 256> slots_{};
};

const MemberIndex& Members() {
    static const MemberIndex index;
    return index;
}

// True when the MIME type contains "video" in any ASCII letter case.
bool NamesVideo(std::string_view mimeType) {
    for (std::size_t i = 0; i + 5 <= mimeType.size(); ++i) {
        if (AsciiEqualNoCase(mimeType.substr(i, 5), "video")) return true;
    }
    return false;
}

enum class EntryType : std::uint8_t { Other, LocalCandidate, RemoteCandidate, Codec, OutboundRtp };

EntryType TypeOf(std::string_view type) {
    if (type == "local-candidate") return EntryType::LocalCandidate;
    if (type == "remote-candidate") return EntryType::RemoteCandidate;
    if (type == "codec") return EntryType::Codec;
    if (type == "outbound-rtp") return EntryType::OutboundRtp;
    return EntryType::Other;
}

// The SAX handler. Containers are tracked in frames; what the next value of
// an object means is decided by the key before it.
class ReportReader {
public:
    explicit ReportReader(StatsReportFacts& facts) : facts_(facts) { facts_.Clear(); }

    bool null() { return Scalar("null", false); }
    bool boolean(bool value) { return Scalar(value ? "true" : "false", false); }
    bool number_integer(Json::number_integer_t value) { return Integer(value); }
    bool number_unsigned(Json::number_unsigned_t value) { return Integer(value); }
    bool number_float(Json::number_float_t value, const Json::string_t&) {
        if (!Wanted()) return Scalar(std::string_view(), false);
        // The library's own shortest round-trip form ("2500000.0", "1e-05").
        std::array<char, 64> text{};
        const char* end = nlohmann::detail::to_chars(text.data(), text.data() + text.size(), value);
        return Scalar(std::string_view(text.data(), static_cast<std::size_t>(end - text.data())), false);
    }
    bool string(Json::string_t& value) { return Scalar(value.view(), true); }
    bool binary(Json::binary_t&) { return true; }
    bool start_object(std::size_t) { return Open(true); }
    bool start_array(std::size_t) { return Open(false); }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }
    bool key(Json::string_t& text) {
        const std::string_view name = text.view();
        switch (frames_[depth_]) {
            case Frame::Root:
                next_ = name == "stats" ? Next::Stats : Next::Ignore;
                // Only the last "stats" of the root counts.
                if (next_ == Next::Stats) facts_.Clear();
                break;
            case Frame::Entry:
                next_ = name == "type" ? Next::Type : name == "members" ? Next::Members : Next::Ignore;
                break;
            case Frame::Members:
                slot_ = Members().Find(name);
                next_ = slot_ >= 0 ? Next::Slot : Next::Ignore;
                break;
            case Frame::Capture: CaptureKey(name); break;
            default: break;
        }
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

private:
    enum class Frame : std::uint8_t { None, Skip, Root, Stats, Entry, Members, Capture };
    enum class Next : std::uint8_t { Ignore, Stats, Type, Members, Slot };

    // Whether the value about to come is kept as text (numbers are written
    // out only then; elsewhere only their kind matters).
    bool Wanted() const {
        const Frame frame = frames_[depth_];
        return frame == Frame::Capture || (frame == Frame::Members && next_ == Next::Slot);
    }

    template <typename Int>
    bool Integer(Int value) {
        if (!Wanted()) return Scalar(std::string_view(), false);
        std::array<char, 24> text{};
        const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
        return Scalar(std::string_view(text.data(), static_cast<std::size_t>(result.ptr - text.data())), false);
    }

    // A value that is not an array or object; text is a string's characters
    // or another value's JSON text.
    bool Scalar(std::string_view text, bool isString) {
        switch (frames_[depth_]) {
            case Frame::Entry:
                if (next_ == Next::Type) {
                    type_ = isString ? TypeOf(text) : EntryType::Other;
                } else if (next_ == Next::Members) {
                    hasMembers_ = false;
                }
                break;
            case Frame::Members:
                if (next_ == Next::Slot) Keep(slot_, text, isString);
                break;
            case Frame::Capture:
                CaptureValueStart();
                if (isString) {
                    AppendJsonString(capture_, text);
                } else {
                    capture_ += text;
                }
                CaptureValueDone();
                break;
            default: break;
        }
        return true;
    }

    bool Open(bool object) {
        if (depth_ >= kMaxJsonDepth) return false;
        const Frame parent = frames_[depth_];
        Frame frame = Frame::Skip;
        switch (parent) {
            case Frame::None: frame = object ? Frame::Root : Frame::Skip; break;
            case Frame::Root:
                if (next_ == Next::Stats && !object) {
                    frame = Frame::Stats;
                    facts_.hasStats = true;
                }
                break;
            case Frame::Stats:
                if (object) {
                    frame = Frame::Entry;
                    type_ = EntryType::Other;
                    hasMembers_ = false;
                    ForgetMembers();
                }
                break;
            case Frame::Entry:
                if (next_ == Next::Type) {
                    type_ = EntryType::Other;
                } else if (next_ == Next::Members) {
                    // A repeated "members" replaces the earlier one whole.
                    hasMembers_ = object;
                    ForgetMembers();
                    if (object) frame = Frame::Members;
                }
                break;
            case Frame::Members:
                if (next_ == Next::Slot) {
                    frame = Frame::Capture;
                    captureSlot_ = slot_;
                    capture_.clear();
                    levels_ = 0;
                    CaptureOpen(object);
                }
                break;
            case Frame::Capture:
                frame = Frame::Capture;
                CaptureValueStart();
                CaptureOpen(object);
                break;
            case Frame::Skip: break;
        }
        frames_[++depth_] = frame;
        return true;
    }

    bool Close() {
        const Frame frame = frames_[depth_--];
        if (frame == Frame::Entry && hasMembers_) {
            ApplyEntry();
        } else if (frame == Frame::Capture) {
            capture_ += level().object ? '}' : ']';
            --levels_;
            if (levels_ == 0) {
                Keep(captureSlot_, capture_, false);
            } else {
                CaptureValueDone();
            }
        }
        return true;
    }

    void Keep(int slot, std::string_view text, bool isString) {
        values_[static_cast<std::size_t>(slot)].assign(text.data(), text.size());
        if (!HasMember(slot)) kept_[keptCount_++] = static_cast<std::int8_t>(slot);
        membersSet_ |= std::uint64_t{1} << slot;
        if (slot == kKind) kindIsString_ = isString;
    }

    void ForgetMembers() {
        membersSet_ = 0;
        keptCount_ = 0;
    }

    bool HasMember(int slot) const { return (membersSet_ >> slot & 1u) != 0; }
    const std::string& Member(int slot) const { return values_[static_cast<std::size_t>(slot)]; }

    void SetFact(ReportFact f, std::string_view text) {
        facts_.facts[static_cast<std::size_t>(f)].assign(text.data(), text.size());
        facts_.factsSet |= std::uint32_t{1} << static_cast<unsigned>(f);
    }
    void CopyMember(int slot, ReportFact f) {
        if (HasMember(slot)) SetFact(f, Member(slot));
    }

    // The entry's facts, once its type and members are known.
    void ApplyEntry() {
        switch (type_) {
            case EntryType::LocalCandidate:
                for (const MemberFact& m : kLocalCandidateFacts) CopyMember(m.slot, m.fact);
                break;
            case EntryType::RemoteCandidate:
                for (const MemberFact& m : kRemoteCandidateFacts) CopyMember(m.slot, m.fact);
                break;
            case EntryType::Codec:
                if (HasMember(kMimeType)) {
                    const bool video = NamesVideo(Member(kMimeType));
                    const int names[] = {kMimeType, kClockRate, kSdpFmtpLine};
                    const ReportFact first = video ? ReportFact::VideoMimeType : ReportFact::OtherMimeType;
                    for (int n = 0; n < 3; ++n) {
                        if (HasMember(names[n])) {
                            SetFact(static_cast<ReportFact>(static_cast<int>(first) + n), TrimmedView(Member(names[n])));
                        }
                    }
                }
                break;
            case EntryType::OutboundRtp:
                if (HasMember(kKind) && kindIsString_ && Member(kKind) == "video" && HasMember(kTargetBitrate)) {
                    SetFact(ReportFact::TargetBitrate, TrimmedView(Member(kTargetBitrate)));
                }
                break;
            case EntryType::Other: break;
        }
        // The member texts are not needed after this: they move over.
        for (std::size_t k = 0; k < keptCount_; ++k) {
            const auto i = static_cast<std::size_t>(kept_[k]);
            if (i >= kTrackedStatCount) continue;
            std::string& text = values_[i];
            const std::string_view trimmed = TrimmedView(text);
            if (trimmed.size() != text.size()) {
                const auto lead = static_cast<std::size_t>(trimmed.data() - text.data());
                text.erase(lead + trimmed.size());
                text.erase(0, lead);
            }
            facts_.stats[i].swap(text);
            facts_.statsSet |= std::uint64_t{1} << i;
        }
    }

    // Compact text of a kept member's array or object. Each open level
    // remembers where its members' texts lie, so a repeated key can put its
    // value in the first one's place.
    struct CapturedMember {
        std::string key;
        std::size_t start = 0;  // of the value's text
        std::size_t end = 0;
    };
    struct CaptureLevel {
        bool object = false;
        bool empty = true;
        std::vector<CapturedMember> members;  // objects only
        std::size_t repeated = 0;             // index + 1 of the member a repeated key replaces
        std::size_t valueStart = 0;
    };

    CaptureLevel& level() { return levelStack_[levels_ - 1]; }

    void CaptureOpen(bool object) {
        if (levelStack_.size() == levels_) levelStack_.emplace_back();
        CaptureLevel& l = levelStack_[levels_++];
        l.object = object;
        l.empty = true;
        l.members.clear();
        l.repeated = 0;
        capture_ += object ? '{' : '[';
    }

    void CaptureKey(std::string_view name) {
        CaptureLevel& l = level();
        for (std::size_t i = 0; i < l.members.size(); ++i) {
            if (l.members[i].key == name) {
                l.repeated = i + 1;
                l.valueStart = capture_.size();
                return;
            }
        }
        if (!l.empty) capture_ += ',';
        l.empty = false;
        AppendJsonString(capture_, name);
        capture_ += ':';
        l.repeated = 0;
        l.valueStart = capture_.size();
        l.members.push_back(CapturedMember{std::string(name), l.valueStart, l.valueStart});
    }

    void CaptureValueStart() {
        CaptureLevel& l = level();
        if (l.object) return;  // the key wrote the separator
        if (!l.empty) capture_ += ',';
        l.empty = false;
    }

    void CaptureValueDone() {
        CaptureLevel& l = level();
        if (!l.object) return;
        if (l.repeated == 0) {
            l.members.back().end = capture_.size();
            return;
        }
        // Move the new value into the first place of its key.
        const std::string value = capture_.substr(l.valueStart);
        capture_.resize(l.valueStart);
        CapturedMember& first = l.members[l.repeated - 1];
        capture_.replace(first.start, first.end - first.start, value);
        const std::ptrdiff_t shift = static_cast<std::ptrdiff_t>(value.size()) -
                                     static_cast<std::ptrdiff_t>(first.end - first.start);
        first.end = first.start + value.size();
        for (std::size_t i = l.repeated; i < l.members.size(); ++i) {
            l.members[i].start = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(l.members[i].start) + shift);
            l.members[i].end = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(l.members[i].end) + shift);
        }
        l.repeated = 0;
    }

    StatsReportFacts& facts_;
    std::size_t depth_ = 0;
    std::array<Frame, kMaxJsonDepth + 1> frames_{};  // frames_[0]: outside the document
    Next next_ = Next::Ignore;
    int slot_ = -1;
    // The entry being read.
    EntryType type_ = EntryType::Other;
    bool hasMembers_ = false;
    std::uint64_t membersSet_ = 0;
    bool kindIsString_ = false;
    std::array<std::string, kMemberCount> values_;
    std::array<std::int8_t, kMemberCount> kept_{};  // the members set, in the order first read
    std::size_t keptCount_ = 0;
    // The kept member whose array or object is being written out.
    int captureSlot_ = -1;
    std::string capture_;
    std::vector<CaptureLevel> levelStack_;
    std::size_t levels_ = 0;
};

// Stores a report's facts into the collector's state (sessionMutex held).
void StoreFacts(StatsReportFacts& r, SqmSessionState& s, SqmIceInfo& ice, bool& iceKnown) {
    for (std::size_t i = 0; i < kTrackedStatCount; ++i) {
        if (r.HasStat(i)) s.latestStats[TrackedStatName(i)] = std::move(r.stats[i]);
    }
    static const std::string& kTargetBitrateName = *new std::string("targetBitrate");
    if (r.Has(ReportFact::TargetBitrate)) s.latestStats[kTargetBitrateName] = r.Text(ReportFact::TargetBitrate);
    const std::string* codecNames[] = {&TrackedStatName(kMimeType), &TrackedStatName(kClockRate),
                                       &TrackedStatName(kSdpFmtpLine)};
    for (int n = 0; n < 3; ++n) {
        const auto video = static_cast<ReportFact>(static_cast<int>(ReportFact::VideoMimeType) + n);
        const auto other = static_cast<ReportFact>(static_cast<int>(ReportFact::OtherMimeType) + n);
        if (r.Has(video)) s.videoCodec[*codecNames[n]] = r.Text(video);
        if (r.Has(other)) s.otherCodec[*codecNames[n]] = r.Text(other);
    }
    const std::pair<ReportFact, std::string*> asRead[] = {{ReportFact::LocalVpn, &ice.localVpn},
                                                          {ReportFact::LocalRelayProtocol, &ice.localRelayProtocol},
                                                          {ReportFact::RemotePort, &ice.remotePort},
                                                          {ReportFact::RemoteProtocol, &ice.remoteProtocol},
                                                          {ReportFact::RemoteRelayProtocol, &ice.remoteRelayProtocol}};
    for (const auto& f : asRead) {
        if (r.Has(f.first)) *f.second = r.Text(f.first);
    }
    // Addresses and the network type count only with a candidate type.
    const std::string& localType = r.Text(ReportFact::LocalCandidateType);
    const std::string& remoteType = r.Text(ReportFact::RemoteCandidateType);
    if (localType.empty() && remoteType.empty()) return;
    const std::pair<ReportFact, std::string*> withType[] = {
        {ReportFact::LocalCandidateType, &ice.localCandidateType},
        {ReportFact::LocalAddress, &ice.localAddress},
        {ReportFact::RemoteCandidateType, &ice.remoteCandidateType},
        {ReportFact::RemoteAddress, &ice.remoteAddress},
        {ReportFact::LocalNetworkType, &ice.localNetworkType}};
    for (const auto& f : withType) {
        if (!r.Text(f.first).empty()) *f.second = r.Text(f.first);
    }
    iceKnown = true;
}

}  // namespace

const std::string& TrackedStatName(std::size_t index) {
    // Never destroyed, as no function-local static that owns memory is: a
    // host thread may still call in while the process exits.
    static const auto& names = *[] {
        auto* all = new std::array<std::string, kTrackedStatCount>();
        for (std::size_t i = 0; i < kTrackedStatCount; ++i) (*all)[i] = std::string(kMemberNames[i]);
        return all;
    }();
    return names[index];
}

int TrackedStatIndex(std::string_view name) {
    const int i = Members().Find(name);
    return i < static_cast<int>(kTrackedStatCount) ? i : -1;
}

const std::string& StatsReportFacts::Text(ReportFact f) const {
    static const std::string& kNone = *new std::string();
    return Has(f) ? facts[static_cast<std::size_t>(f)] : kNone;
}

bool ReadStatsReport(std::string_view text, StatsReportFacts& facts) {
    ReportReader reader(facts);
    return Json::sax_parse(text.data(), text.data() + text.size(), &reader, Json::input_format_t::json, true, false);
}

void SQM::PushWebRTCStatsReport(const char* playerId, const char* statsJson) {
    const SteadyTime now = impl->steadyNow();
    const SqmConfig settings = impl->Settings();
    // Reading touches no shared state: it happens before the lock is taken.
    StatsReportFacts facts;
    if (statsJson != nullptr && statsJson[0] != '\0') {
        bool readable = false;
        try {
            readable = ReadStatsReport(statsJson, facts);
        } catch (const std::exception&) {
        }
        if (!readable) {
            facts.Clear();
            LogWarn(kUnreadable);
        }
    }
    SqmPendingSend start;
    SqmPendingSend during;
    {
        std::lock_guard<std::mutex> lock(impl->sessionMutex);
        SqmSessionState& s = impl->session;
        if (playerId != nullptr && playerId[0] != '\0') s.peerId = playerId;

        if (facts.hasStats) StoreFacts(facts, s, impl->ice, impl->iceKnown);
        start = BuildStartStreaming(settings);
        during = BuildDuringBatch(settings, now);
    }
    SendPending(start, during);
}

}  // namespace TesselSDK
