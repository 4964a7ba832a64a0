// Keeps this library mapped for the rest of the process.
#pragma once

namespace TesselSDK {

// Call before starting a thread of ours that may outlive the host's use of the
// library: an unload request (FreeLibrary, dlclose) then leaves our code in
// place, so such a thread never runs into unmapped code. Idempotent, cheap,
// never throws; call it from an ordinary thread, not while the loader is busy.
void KeepModuleLoaded();

}  // namespace TesselSDK
