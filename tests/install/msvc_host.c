/* A host built for the MSVC ABI (clang --target=x86_64-pc-windows-msvc,
 * lld-link, tesselsdk.lib) without any C runtime: it talks to the system
 * through three kernel32 functions. Run with streaming_yn=n. */
#include <tesselsdk/tesselsdk.h>

__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* data, unsigned long size, unsigned long* written,
                                              void* overlapped);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned int code);

static int g_initialized = -1;
static void on_initialized(bool ok) { g_initialized = ok ? 1 : 0; }

static void say(const char* text) {
    unsigned long length = 0, written = 0;
    while (text[length]) ++length;
    WriteFile(GetStdHandle((unsigned long)-11), text, length, &written, 0);
}

void mainCRTStartup(void) {
    TesselSDKHandle* h = TesselSDK_Create("msvc-host", 1);
    int min = 7, max = 7, fps = 7;
    int found = TesselSDK_GetBitrateConfig(h, "AUTO", &min, &max, &fps);
    int ok;
    TesselSDK_InitLogger();
    TesselSDK_Log(0, TESSELSDK_LOG_INFO, "msvc_host: starting");
    TesselSDK_Initialize(h, on_initialized);
    ok = found == 0 && min == 7 && g_initialized == 0 && TesselSDK_GetWindowsEventsApiUrl(h)[0] == '\0';
    TesselSDK_Shutdown(h);
    TesselSDK_Destroy(h);
    say(ok ? "msvc_host ok (version " TESSELSDK_VERSION_STRING ")\n" : "msvc_host FAILED\n");
    ExitProcess(ok ? 0 : 1);
}
