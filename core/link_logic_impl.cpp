#include "core/link_logic_impl.h"

namespace TesselSDK {

LinkLogic::LinkLogic() = default;
LinkLogic::LinkLogic(const LinkLogic&) = default;
LinkLogic& LinkLogic::operator=(const LinkLogic&) = default;
LinkLogic::~LinkLogic() = default;

LinkLogic* LinkLogic::Create(const char* sdkVersion, int geType, PlatformInterface platform) {
    return new LinkLogicImpl(sdkVersion, geType, std::move(platform));
}

void LinkLogic::Destroy(LinkLogic* logic) { delete logic; }

LinkLogicImpl::LinkLogicImpl(const char* version, int type, PlatformInterface host)
    : sdkVersion(version ? version : ""), platform(std::move(host)), geType(type) {}
LinkLogicImpl::~LinkLogicImpl() = default;

bool LinkLogicImpl::GetBitrateConfig(const char*, int*, int*, int*) { return false; }
bool LinkLogicImpl::GetEncoderConfig(const char*, EncoderSettings*) { return false; }

}  // namespace TesselSDK
