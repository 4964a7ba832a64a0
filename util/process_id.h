// The calling process's id, as the system numbers it.
#pragma once

namespace TesselSDK {

// Never throws. A child forked from this process has another.
long long CurrentProcessId();

}  // namespace TesselSDK
