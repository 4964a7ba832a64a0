#include "core/link_logic_impl.h"

namespace TesselSDK {
void LinkLogicImpl::HandlePlayerConnected(const char*, bool, std::function<void(bool, int, const char*)>) {}
}  // namespace TesselSDK
