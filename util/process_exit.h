// Whether the process is ending in a way that may already have ended our threads.
#pragma once

namespace TesselSDK {

// True once the process has begun to end and the platform may have ended
// every thread but the caller's, wherever each one stood (a lock it held
// stays held): on Windows from ExitProcess on, while the DLLs are detached
// (a host's plug-in DLL may call us from its detach, before our own). Code
// that would wait for a thread of ours (a join, a condition it signals, a
// lock it may hold) must not then. False on Linux: exit handlers and
// destructors run while every other thread still runs. Cheap, never throws.
bool ProcessExitMayHaveEndedOurThreads();

}  // namespace TesselSDK
