#include "core/link_logic_impl.h"

namespace TesselSDK {
void LinkLogicImpl::Initialize(std::function<void(bool)>) {}
}  // namespace TesselSDK
