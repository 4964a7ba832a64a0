// Typed lookups of the kept statistics, used by the record builders.
#include "sqm/sqm.h"
#include "sqm/sqm_impl.h"
#include "sqm/sqm_text.h"

namespace TesselSDK {

const std::string* SQM::PresentStat(const std::string& name) const {
    const auto& stats = impl->session.latestStats;
    auto it = stats.find(name);
    if (it == stats.end() || it->second.empty()) return nullptr;
    return &it->second;
}

SQM::Json SQM::GetStatString(const std::string& name) const {
    const std::string* text = PresentStat(name);
    return text != nullptr ? Json(*text) : Json(nullptr);
}

std::string SQM::GetStatStringOr(const StringMap& map, const std::string& name) {
    auto it = map.find(name);
    return it != map.end() ? it->second : std::string();
}

SQM::Json SQM::GetStatBool(const std::string& name) const {
    const std::string* text = PresentStat(name);
    if (text == nullptr) return Json(nullptr);
    const std::string trimmed = TrimWhitespace(*text);
    if (trimmed == "true" || trimmed == "1") return Json(true);
    if (trimmed == "false" || trimmed == "0") return Json(false);
    return Json(nullptr);
}

SQM::Json SQM::GetStatInt(const std::string& name) const {
    const std::string* text = PresentStat(name);
    long long value = 0;
    if (text == nullptr || !TryParseInt64(TrimWhitespace(*text), value)) return Json(nullptr);
    return Json(static_cast<std::int64_t>(value));
}

SQM::Json SQM::GetStatDouble(const std::string& name) const {
    const std::string* text = PresentStat(name);
    double value = 0.0;
    if (text == nullptr || !TryParseDouble(TrimWhitespace(*text), value)) return Json(nullptr);
    return Json(value);
}

void SQM::CopyDurationValue(const Json& parsed, Json& out, const std::string& name) {
    if (!parsed.is_object() || !parsed.contains(name)) return;
    double value = 0.0;
    if (TryParseDouble(parsed[name].dump(), value)) out[name] = value;
}

}  // namespace TesselSDK
