#include "util/process_id.h"

#include <unistd.h>

namespace TesselSDK {

long long CurrentProcessId() { return static_cast<long long>(::getpid()); }

}  // namespace TesselSDK
