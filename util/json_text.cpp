#include "util/json_text.h"

namespace TesselSDK {

std::string CompactJsonText(const nlohmann::ordered_json& document) {
    return document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace TesselSDK
