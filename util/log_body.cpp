#include "util/log_body.h"

namespace TesselSDK {

std::string BodyForLog(const std::string& body) {
    if (body.size() <= kLoggedBodyLimit) return body;
    std::size_t cut = kLoggedBodyLimit;
    // Back to the start of a character: continuation bytes are 10xxxxxx.
    for (int back = 0; back < 3 && cut > 0 && (static_cast<unsigned char>(body[cut]) & 0xC0) == 0x80; ++back) --cut;
    return body.substr(0, cut) + "... [" + std::to_string(body.size()) + " bytes in all]";
}

}  // namespace TesselSDK
