// Access to the platform account library: the user's token, language and
// nation, read afresh on every call.
#include "platform/account.h"

#include <utility>

#include "Ombrel.h"
#include "util/text.h"

namespace TesselSDK {
namespace {

constexpr int kTokenCapacity = 1024;

// Fills `gds` from the library; true when it reports success. The result
// object is gone before the caller reads the settings.
bool ReadGds(Halyx::Quenda::Base::HalyxPCGds& gds) {
    const Halyx::Quenda::Result result = Base_GetGds(&gds);
    return result.IsSuccessful();
}

}  // namespace

std::string GetAccessToken() {
    wchar_t buffer[kTokenCapacity] = {};
    bool ok = false;
    {
        const Halyx::Quenda::Result result = Base_GetAccessToken(buffer, kTokenCapacity);
        ok = result.IsSuccessful();
    }
    if (!ok) return std::string();
    // A token that fills the whole buffer is cut at its end rather than read past it.
    buffer[kTokenCapacity - 1] = L'\0';
    return WideToUtf8(buffer);
}

bool GetPlatformLanguageAndNation(std::string& language, std::string& nation) {
    Halyx::Quenda::Base::HalyxPCGds gds;
    if (!ReadGds(gds)) return false;
    std::string lang = WideToUtf8(gds.GetLanguage());
    std::string nat = WideToUtf8(gds.GetNation());
    language = std::move(lang);
    nation = std::move(nat);
    return true;
}

bool GetPlatformNation(std::string& nation) {
    Halyx::Quenda::Base::HalyxPCGds gds;
    if (!ReadGds(gds)) return false;
    nation = WideToUtf8(gds.GetNation());
    return true;
}

}  // namespace TesselSDK
