// The shared object is linked with -z nodelete: dlclose never unmaps it, so
// there is nothing to do at run time.
#include "util/keep_module_loaded.h"

namespace TesselSDK {

void KeepModuleLoaded() {}

// Exit hooks run on the exiting thread while every other thread still runs.
bool OtherThreadsMayBeGoneAtExit() { return false; }

}  // namespace TesselSDK
