#include "core/link_logic_impl.h"

namespace TesselSDK {
void LinkLogicImpl::SendTallo(const char*, const char*, const char*, const char*) {}
}  // namespace TesselSDK
