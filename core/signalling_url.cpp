#include "core/signalling_url.h"

#include "util/text.h"

namespace TesselSDK {
namespace {

std::string UrlHead(const std::string& host, const std::string& streamerId) {
    return "wss://" + host + "/s/" + streamerId + "/?token=";
}

std::string UrlTail(const std::string& memberNo, const std::string& gaDataBase64, int reconnectCount) {
    return "&member_no=" + UrlEncode(memberNo) + "&reconnect_cnt=" + std::to_string(reconnectCount) +
           "&ga_data=" + UrlEncode(gaDataBase64);
}

}  // namespace

std::string BuildSignalingUrl(const std::string& host, const std::string& streamerId, const std::string& token,
                              const std::string& memberNo, const std::string& gaDataBase64, int reconnectCount) {
    return UrlHead(host, streamerId) + UrlEncode(token) + UrlTail(memberNo, gaDataBase64, reconnectCount);
}

std::string MaskToken(const std::string& token) {
    return token.substr(0, 4) + "\xE2\x80\xA6(" + std::to_string(token.size()) + " chars)";
}

std::string SignallingUrlForLog(const std::string& host, const std::string& streamerId, const std::string& token,
                                const std::string& memberNo, const std::string& gaDataBase64, int reconnectCount) {
    return UrlHead(host, streamerId) + MaskToken(token) + UrlTail(memberNo, gaDataBase64, reconnectCount);
}

}  // namespace TesselSDK
