/* Host of the C interface built against the installed tree (also with
 * pkg-config, and for the MSVC ABI see msvc_host.c). Run with streaming_yn=n:
 * Initialize reports false through the host's callback, on this thread. */
#include <stdio.h>
#include <tesselsdk/tesselsdk.h>

static int g_initialized = -1;
static void on_initialized(bool ok) { g_initialized = ok ? 1 : 0; }

int main(void) {
    TesselSDKHandle* h = TesselSDK_Create("consumer", 1);
    int min = -1, max = -1, fps = -1;
    int found = TesselSDK_GetBitrateConfig(h, "AUTO", &min, &max, &fps);
    int ok;
    TesselSDK_Initialize(h, on_initialized);
    ok = found == 0 && min == -1 && g_initialized == 0 && TesselSDK_GetEventApiUrl(h)[0] == '\0';
    TesselSDK_Shutdown(h);
    TesselSDK_Destroy(h);
    printf("consumer_c %s (version %s)\n", ok ? "ok" : "FAILED", TESSELSDK_VERSION_STRING);
    return ok ? 0 : 1;
}
