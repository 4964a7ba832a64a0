// At exit() every other thread runs on until the process ends (exit
// handlers and the destructors of shared objects run on the exiting thread).
#include "util/process_exit.h"

namespace TesselSDK {

bool ProcessExitMayHaveEndedOurThreads() { return false; }

}  // namespace TesselSDK
