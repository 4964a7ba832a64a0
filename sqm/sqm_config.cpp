#include "sqm/sqm_config.h"

#include <cstdint>
#include <limits>
#include <stdexcept>

#include "util/text.h"

namespace TesselSDK {
namespace {

using Json = nlohmann::ordered_json;

// An interval in whole seconds. Fractions are truncated toward zero; a value
// that does not fit a 32-bit int ends the parse instead of wrapping.
int ReadInterval(const Json& value, const char* key) {
    constexpr std::int64_t kMin = std::numeric_limits<int>::min();
    constexpr std::int64_t kMax = std::numeric_limits<int>::max();
    const std::string outOfRange = std::string("virivizar_sqm.") + key + " is out of the 32-bit range";
    if (value.is_number_unsigned()) {
        const auto v = value.get<std::uint64_t>();
        if (v > static_cast<std::uint64_t>(kMax)) throw std::out_of_range(outOfRange);
        return static_cast<int>(v);
    }
    if (value.is_number_integer()) {
        const auto v = value.get<std::int64_t>();
        if (v < kMin || v > kMax) throw std::out_of_range(outOfRange);
        return static_cast<int>(v);
    }
    if (value.is_number_float()) {
        const double v = value.get<double>();
        if (!(v > static_cast<double>(kMin) - 1.0 && v < static_cast<double>(kMax) + 1.0)) {
            throw std::out_of_range(outOfRange);
        }
        return static_cast<int>(v);
    }
    // Booleans convert as the library converts them; everything else throws
    // the library's type error.
    return value.get<int>();
}

void ReadIntervals(const Json& object, SqmConfig& config) {
    if (object.contains("metric_collect_interval_s")) {
        config.metric_collect_interval_s =
            ReadInterval(object["metric_collect_interval_s"], "metric_collect_interval_s");
    }
    if (object.contains("start_streaming_push_delay_s")) {
        config.start_streaming_push_delay_s =
            ReadInterval(object["start_streaming_push_delay_s"], "start_streaming_push_delay_s");
    }
    if (object.contains("during_streaming_push_interval_s")) {
        config.during_streaming_push_interval_s =
            ReadInterval(object["during_streaming_push_interval_s"], "during_streaming_push_interval_s");
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

SqmConfig ParseSqmConfig(const Json& document, const std::string& gameId) {
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
    ReadIntervals(section, config);

    if (section.contains("games") && section["games"].is_object() && !gameId.empty()) {
        const Json& games = section["games"];
        const std::string key = ChooseGameKey(games, gameId);
        if (!key.empty()) {
            const Json& entry = games[key];
            if (entry.is_object()) {
                config.enabled = entry.contains("enabled") ? entry["enabled"].get<bool>() : false;
                if (config.enabled) ReadIntervals(entry, config);
            }
        }
    }

    if (config.metric_collect_interval_s > config.during_streaming_push_interval_s) {
        config.metric_collect_interval_s = config.during_streaming_push_interval_s;
    }
    return config;
}

}  // namespace TesselSDK
