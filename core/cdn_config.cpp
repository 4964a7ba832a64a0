#include "core/cdn_config.h"

#include <initializer_list>

#include "util/json_int.h"
#include "util/json_parse.h"

namespace TesselSDK {
namespace {

using json = nlohmann::ordered_json;

// The leaf at doc/a/b/c, or null when a step is missing or not an object.
const json* FindPath(const json& doc, std::initializer_list<const char*> path) {
    const json* node = &doc;
    for (const char* key : path) {
        if (!node->is_object()) return nullptr;
        auto it = node->find(key);
        if (it == node->end()) return nullptr;
        node = &*it;
    }
    return node;
}

// A profile integer: a string converts as std::stoi does; a number must fit
// a 32-bit int after truncation toward zero; a boolean is 1 or 0; anything
// else raises the JSON library's type error.
int ReadProfileInt(const json& value) {
    if (value.is_string()) return std::stoi(value.get<std::string>());
    return JsonInt32(value);
}

void ReadInt(const json& entry, const char* key, int& target) {
    auto it = entry.find(key);
    if (it != entry.end()) target = ReadProfileInt(*it);
}

void ReadRangedInt(const json& entry, const char* key, int& target, int lo, int hi) {
    auto it = entry.find(key);
    if (it == entry.end()) return;
    const int v = ReadProfileInt(*it);
    if (v >= lo && v <= hi) target = v;
}

void ReadEnumString(const json& entry, const char* key, std::string& target,
                    std::initializer_list<const char*> allowed) {
    auto it = entry.find(key);
    if (it == entry.end() || !it->is_string()) return;
    const auto& text = it->get_ref<const std::string&>();
    for (const char* a : allowed) {
        if (text == a) {
            target = text;
            return;
        }
    }
}

BitrateProfile ReadProfile(const json& entry) {
    BitrateProfile p;
    ReadInt(entry, "MaxBitrate", p.MaxBitrate);
    ReadInt(entry, "MinBitrate", p.MinBitrate);
    ReadInt(entry, "Fps", p.Fps);
    ReadRangedInt(entry, "MinQP", p.MinQP, 0, 51);
    ReadRangedInt(entry, "MaxQP", p.MaxQP, 0, 51);
    ReadEnumString(entry, "H264Profile", p.H264Profile, {"BASELINE", "MAIN", "HIGH"});
    ReadEnumString(entry, "Multipass", p.Multipass, {"DISABLED", "QUARTER", "FULL"});
    ReadEnumString(entry, "EncoderPreset", p.EncoderPreset,
                   {"ULTRA_LOW_LATENCY", "LOW_QUALITY", "DEFAULT", "HIGH_QUALITY"});
    ReadEnumString(entry, "RateControl", p.RateControl, {"CBR", "VBR", "ConstQP"});
    ReadEnumString(entry, "DegradationPreference", p.DegradationPreference,
                   {"MAINTAIN_FRAMERATE", "MAINTAIN_RESOLUTION", "BALANCED"});
    return p;
}

void ReadProfiles(const json& unreal, std::map<std::string, BitrateProfile>& out) {
    if (unreal.is_object()) {
        for (auto it = unreal.begin(); it != unreal.end(); ++it) {
            if (it.value().is_object()) out[it.key()] = ReadProfile(it.value());
        }
    } else if (unreal.is_array()) {
        for (size_t i = 0; i < unreal.size(); ++i) {
            if (unreal[i].is_object()) out[std::to_string(i)] = ReadProfile(unreal[i]);
        }
    }
}

void ReadStringRow(const json& doc, std::initializer_list<const char*> path, std::string& target) {
    if (const json* leaf = FindPath(doc, path)) target = leaf->get<std::string>();
}

}  // namespace

CdnConfig ParseCdnConfig(const std::string& body, const std::string& gameId, const SqmConfigWarn& sqmWarn) {
    CdnConfig result;
    try {
        const json doc = ParseOutsideJson(body);
        ReadStringRow(doc, {"virivizar_ss", "ws", "kr"}, result.webSocketUrl);
        ReadStringRow(doc, {"virivizar_turn", "api", "kr"}, result.turnApiUrl);
        ReadStringRow(doc, {"virivizar_event", "api", "kr"}, result.eventApiUrl);
        ReadStringRow(doc, {"virivizar_windows_events", "api", "kr"}, result.windowsEventsApiUrl);
        if (const json* enable = FindPath(doc, {"virivizar_sentry", "enable"})) {
            if (enable->is_boolean()) result.sentryEnable = enable->get<bool>();
        }
        if (const json* dsn = FindPath(doc, {"virivizar_sentry", "dsn_unreal"}))
            result.sentryDsn = dsn->get<std::string>();
        else
            ReadStringRow(doc, {"virivizar_sentry", "dsn"}, result.sentryDsn);
        result.sqm = ParseSqmConfig(doc, gameId, sqmWarn);
        if (const json* unreal = FindPath(doc, {"virivizar_bitrate", "Unreal"}))
            ReadProfiles(*unreal, result.bitrateProfiles);
    } catch (const std::exception&) {
        // Whatever was read before the first error stays.
    }
    return result;
}

const BitrateProfile* FindBitrateProfile(const CdnConfig& config, const char* profile) {
    const std::string key = profile ? profile : "AUTO";
    auto it = config.bitrateProfiles.find(key);
    if (it == config.bitrateProfiles.end() && key != "AUTO") it = config.bitrateProfiles.find("AUTO");
    return it == config.bitrateProfiles.end() ? nullptr : &it->second;
}

}  // namespace TesselSDK
