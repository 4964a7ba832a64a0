// Any text as the TURN service's answer: the parser never throws nor makes up servers.
#include <cstdint>
#include <string>

#include "core/turn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto servers = TesselSDK::ParseIceServers(std::string(reinterpret_cast<const char*>(data), size));
    for (const auto& server : servers) if (server.urls.size() > size) __builtin_trap();
    return 0;
}
