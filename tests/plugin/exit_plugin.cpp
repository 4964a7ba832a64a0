// A host's plug-in library that keeps its TesselSDK handle in a global and
// ends it from its own unload, as some engines' plug-ins do. At process exit
// that runs before the library's own: on Windows in the plug-in's
// DLL_PROCESS_DETACH, once the system has ended every other thread; on Linux
// in exit(), while they still run. The unload writes how long the calls took
// (milliseconds, decimal) to the file TESSELSDK_TEST_PLUGIN_REPORT names.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "tesselsdk/tesselsdk.h"

#if defined(_WIN32)
#define PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define PLUGIN_EXPORT extern "C"
#endif

namespace {

struct Plugin {
    TesselSDKHandle* handle = nullptr;
    bool shutdownFirst = false;

    ~Plugin() {
        if (handle == nullptr) return;
        const auto start = std::chrono::steady_clock::now();
        if (shutdownFirst) TesselSDK_Shutdown(handle);
        TesselSDK_Destroy(handle);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        const char* path = std::getenv("TESSELSDK_TEST_PLUGIN_REPORT");
        if (path == nullptr) return;
        if (std::FILE* file = std::fopen(path, "w")) {
            std::fprintf(file, "%lld", static_cast<long long>(took.count()));
            std::fclose(file);
        }
    }
};
Plugin g_plugin;

}  // namespace

// Makes the plug-in's object and queues `events` telemetry events.
PLUGIN_EXPORT void PluginStart(int events, int shutdownFirst) {
    g_plugin.shutdownFirst = shutdownFirst != 0;
    g_plugin.handle = TesselSDK_Create("plugin", 1);
    TesselSDK_Initialize(g_plugin.handle, nullptr);
    for (int i = 0; i < events; ++i) TesselSDK_SendTallo(g_plugin.handle, "plugin.event", "1", "", "");
}
