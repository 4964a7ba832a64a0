#include "util/process_id.h"

#include <windows.h>

namespace TesselSDK {

long long CurrentProcessId() { return static_cast<long long>(GetCurrentProcessId()); }

}  // namespace TesselSDK
