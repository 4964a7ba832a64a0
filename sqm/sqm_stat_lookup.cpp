// Typed lookups of the kept statistics, used by the record builders. The
// intake stores every value trimmed, and the number readers skip leading
// blanks and ignore trailing text, so the values are read as stored.
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

SQM::Json SQM::GetStatBool(const std::string& name) const {
    const std::string* text = PresentStat(name);
    if (text == nullptr) return Json(nullptr);
    if (*text == "true" || *text == "1") return Json(true);
    if (*text == "false" || *text == "0") return Json(false);
    return Json(nullptr);
}

bool SQM::ReadStatInt64(const std::string& name, long long& value) const {
    const std::string* text = PresentStat(name);
    return text != nullptr && TryParseInt64(*text, value);
}

SQM::Json SQM::GetStatInt(const std::string& name) const {
    long long value = 0;
    if (!ReadStatInt64(name, value)) return Json(nullptr);
    return Json(static_cast<std::int64_t>(value));
}

SQM::Json SQM::GetStatDouble(const std::string& name) const {
    const std::string* text = PresentStat(name);
    double value = 0.0;
    if (text == nullptr || !TryParseDouble(*text, value)) return Json(nullptr);
    return Json(value);
}

}  // namespace TesselSDK
