// The shared object is linked with -z nodelete: dlclose never unmaps it, so
// there is nothing to do at run time.
#include "util/keep_module_loaded.h"

namespace TesselSDK {

void KeepModuleLoaded() {}

}  // namespace TesselSDK
