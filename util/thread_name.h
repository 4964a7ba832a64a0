// Names the calling thread, as a game's debugger and crash dumps show it.
#pragma once

namespace TesselSDK {

// Best effort, never throws. Linux keeps the first 15 characters.
void SetCurrentThreadName(const char* name);

}  // namespace TesselSDK
