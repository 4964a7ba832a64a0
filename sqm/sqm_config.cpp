#include "sqm/sqm_config.h"

#include <stdexcept>
#include <utility>

#include "util/json_int.h"
#include "util/text.h"

namespace TesselSDK {
namespace {

using Json = nlohmann::ordered_json;

// Intervals in whole seconds; fractions are truncated toward zero. A number
// that does not fit an int replaces nothing, with a WARN: the interval keeps
// the value it had (in the section its default; in the game's entry the
// section's value, or the default when the section gave none).
void ReadIntervals(const Json& object, bool isSection, SqmConfig& config, const SqmConfigWarn& warn) {
    static const std::pair<const char*, int SqmConfig::*> kIntervals[] = {
        {"metric_collect_interval_s", &SqmConfig::metric_collect_interval_s},
        {"start_streaming_push_delay_s", &SqmConfig::start_streaming_push_delay_s},
        {"during_streaming_push_interval_s", &SqmConfig::during_streaming_push_interval_s}};
    for (const auto& interval : kIntervals) {
        if (!object.contains(interval.first)) continue;
        const Json& value = object[interval.first];
        try {
            config.*interval.second = JsonInt32(value);
        } catch (const std::out_of_range&) {
            if (!warn) continue;
            const std::string kept = std::to_string(config.*interval.second);
            warn("[TesselSDK::SQM] " + std::string(interval.first) + " " + value.dump() + " is out of range; " +
                 (isSection ? "the default " + kept + " is used." : kept + " is kept."));
        }
    }
}

// The key of the game's entry: the whole id, then the part before the first
// '_' or '-', then the first member whose upper-cased name begins the id.
std::string ChooseGameKey(const Json& games, const std::string& gameId) {
    const std::string upperId = AsciiUpper(gameId);
    if (games.contains(upperId)) return upperId;
    const auto separator = upperId.find_first_of("_-");
    if (separator != std::string::npos) {
        const std::string base = upperId.substr(0, separator);
        if (games.contains(base)) return base;
    }
    for (auto it = games.begin(); it != games.end(); ++it) {
        const std::string upperKey = AsciiUpper(it.key());
        if (!upperKey.empty() && upperId.compare(0, upperKey.size(), upperKey) == 0) return it.key();
    }
    return std::string();
}

}  // namespace

SqmConfig ParseSqmConfig(const Json& document, const std::string& gameId, const SqmConfigWarn& warn) {
    SqmConfig config;
    if (!document.is_object() || !document.contains("virivizar_sqm")) return config;
    const Json& section = document["virivizar_sqm"];
    if (!section.is_object()) return config;

    if (section.contains("api")) {
        const Json& api = section["api"];
        if (api.is_string()) {
            config.api = api.get<std::string>();
        } else if (api.is_object() && api.contains("kr") && api["kr"].is_string()) {
            config.api = api["kr"].get<std::string>();
        }
    }
    ReadIntervals(section, true, config, warn);

    if (section.contains("games") && section["games"].is_object() && !gameId.empty()) {
        const Json& games = section["games"];
        const std::string key = ChooseGameKey(games, gameId);
        if (!key.empty()) {
            const Json& entry = games[key];
            if (entry.is_object()) {
                config.enabled = entry.contains("enabled") ? entry["enabled"].get<bool>() : false;
                if (config.enabled) ReadIntervals(entry, false, config, warn);
            }
        }
    }

    if (config.metric_collect_interval_s > config.during_streaming_push_interval_s) {
        config.metric_collect_interval_s = config.during_streaming_push_interval_s;
    }
    return config;
}

}  // namespace TesselSDK
