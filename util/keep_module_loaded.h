// Keeps this library mapped for the rest of the process.
#pragma once

namespace TesselSDK {

// Call before starting a thread of ours that may outlive the host's use of the
// library: an unload request (FreeLibrary, dlclose) then leaves our code in
// place, so such a thread never runs into unmapped code. Idempotent, cheap,
// never throws; call it from an ordinary thread, not while the loader is busy.
void KeepModuleLoaded();

// True where this module's exit hooks (static destructors, atexit) may run
// after the platform has ended every other thread of the process: a DLL's run
// at process detach, after ExitProcess ended them, wherever they stopped (a
// lock one of them held stays held). Such a hook waits for no other thread
// and takes locks only with try_lock.
bool OtherThreadsMayBeGoneAtExit();

}  // namespace TesselSDK
