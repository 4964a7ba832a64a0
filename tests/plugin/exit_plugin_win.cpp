// A host's plug-in DLL that keeps its TesselSDK handle in a global and ends
// it from its own DLL_PROCESS_DETACH, as some engines' plug-ins do. At process
// exit that detach runs before tesselsdk.dll's own, once the system has
// ended every other thread. It writes how long the calls took (milliseconds,
// decimal) to the file that TESSELSDK_TEST_PLUGIN_REPORT names.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "tesselsdk/tesselsdk.h"

namespace {

TesselSDKHandle* g_handle = nullptr;
bool g_shutdownFirst = false;

void EndHandle() {
    const auto start = std::chrono::steady_clock::now();
    if (g_shutdownFirst) TesselSDK_Shutdown(g_handle);
    TesselSDK_Destroy(g_handle);
    g_handle = nullptr;
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    const char* path = std::getenv("TESSELSDK_TEST_PLUGIN_REPORT");
    if (path == nullptr) return;
    if (std::FILE* file = std::fopen(path, "w")) {
        std::fprintf(file, "%lld", static_cast<long long>(took.count()));
        std::fclose(file);
    }
}

}  // namespace

// Makes the plug-in's object and queues `events` telemetry events.
extern "C" __declspec(dllexport) void PluginStart(int events, int shutdownFirst) {
    g_shutdownFirst = shutdownFirst != 0;
    g_handle = TesselSDK_Create("plugin", 1);
    TesselSDK_Initialize(g_handle, nullptr);
    for (int i = 0; i < events; ++i) TesselSDK_SendTallo(g_handle, "plugin.event", "1", "", "");
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH && g_handle != nullptr) EndHandle();
    return TRUE;
}
