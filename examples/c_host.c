/*
 * Example host of the flat C interface, written as a game-streaming host
 * would use it: sets the six callbacks, initialises, connects a player,
 * pushes statistics reports at one per second, sends a heartbeat and a
 * mobile notification, reads both getters, shuts down and destroys.
 * It prints each callback with its arguments and each outcome.
 *
 * Environment: TESSELSDK_DEMO_STATS names a file of statistics reports, one
 * JSON report per line; TESSELSDK_DEMO_REPORTS how many to push (default 5).
 */
#if !defined(_WIN32)
#define _POSIX_C_SOURCE 200809L
#endif
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#if defined(_WIN32)
#include <windows.h>
static void sleep_ms(unsigned ms) { Sleep(ms); }
static double now_s(void) { return (double)GetTickCount64() / 1000.0; }
#else
static double now_s(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}
static void sleep_ms(unsigned ms) {
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = (long)(ms % 1000) * 1000000L;
    nanosleep(&ts, NULL);
}
#endif

#include "tesselsdk/tesselsdk.h"

static double g_start;

static void timeline(const char* fmt, const char* a, const char* b) {
    double secs = now_s() - g_start;
    printf("[c_host %7.3f] ", secs);
    printf(fmt, a ? a : "(null)", b ? b : "(null)");
    printf("\n");
    fflush(stdout);
}

static void on_init_sentry(const char* dsn, const char* environment, const char* release) {
    printf("[c_host] callback InitSentry(dsn=%s, environment=%s, release=%s)\n", dsn, environment, release);
}
static void on_create_streamer(const char* streamer_id, const char* url) {
    timeline("callback CreateStreamer(streamerId=%s, signallingUrl=%s)", streamer_id, url);
}
static void on_start_streaming(void) { timeline("callback StartStreaming()%s%s", "", ""); }
static void on_bitrate(int min_bitrate, int max_bitrate, int fps) {
    printf("[c_host] callback Bitrate(min=%d, max=%d, fps=%d)\n", min_bitrate, max_bitrate, fps);
}
static void on_connection_ready(const char* player_id, bool ok, int status, const char* message) {
    printf("[c_host] callback OnConnectionReady(%s, ok=%d, status=%d, %s)\n", player_id, ok ? 1 : 0, status, message);
}
static void on_apply_rtc_config(const char* ice_servers_json) {
    timeline("callback OnApplyRTCConfig(%s)%s", ice_servers_json, "");
}
static void on_initialized(bool ok) { timeline("outcome Initialize: %s%s", ok ? "ok" : "FAILED", ""); }
static void on_player_ready(bool ok, int status, const char* message) {
    printf("[c_host] outcome HandlePlayerConnected: ok=%d status=%d message=%s\n", ok ? 1 : 0, status,
           message ? message : "(null)");
}

/* Reads one line of any length; returns NULL at the end. The caller frees. */
static char* read_line(FILE* f) {
    size_t cap = 32768, len = 0;
    char* buf = (char*)malloc(cap);
    if (!buf) return NULL;
    while (fgets(buf + len, (int)(cap - len), f)) {
        len += strlen(buf + len);
        if (len > 0 && buf[len - 1] == '\n') {
            buf[len - 1] = '\0';
            return buf;
        }
        if (len + 1 >= cap) {
            char* bigger = (char*)realloc(buf, cap * 2);
            if (!bigger) break;
            buf = bigger;
            cap *= 2;
        }
    }
    if (len > 0) return buf;
    free(buf);
    return NULL;
}

int main(void) {
    const char* stats_path = getenv("TESSELSDK_DEMO_STATS");
    const char* count_text = getenv("TESSELSDK_DEMO_REPORTS");
    int reports = count_text ? atoi(count_text) : 5;
    TesselSDKHandle* h;
    int min_bitrate = 0, max_bitrate = 0, fps = 0, i;

    g_start = now_s();
    h = TesselSDK_Create("5.6.0-demo", 1);
    TesselSDK_InitLogger();
    TesselSDK_Log(NULL, TESSELSDK_LOG_INFO, "c_host: starting");

    TesselSDK_SetInitSentry(h, on_init_sentry);
    TesselSDK_SetCreateStreamer(h, on_create_streamer);
    TesselSDK_SetStartStreaming(h, on_start_streaming);
    TesselSDK_SetBitrateCallback(h, on_bitrate);
    TesselSDK_SetOnConnectionReady(h, on_connection_ready);
    TesselSDK_SetOnApplyRTCConfig(h, on_apply_rtc_config);

    timeline("call Initialize%s%s", "", "");
    TesselSDK_Initialize(h, on_initialized);

    if (TesselSDK_GetBitrateConfig(h, "AUTO", &min_bitrate, &max_bitrate, &fps))
        printf("[c_host] GetBitrateConfig(AUTO): min=%d max=%d fps=%d\n", min_bitrate, max_bitrate, fps);
    else
        printf("[c_host] GetBitrateConfig(AUTO): no profile\n");

    timeline("call HandlePlayerConnected(%s)%s", "player-1", "");
    TesselSDK_HandlePlayerConnected(h, "player-1", 1, on_player_ready);

    if (stats_path && *stats_path) {
        FILE* f = fopen(stats_path, "rb");
        if (f) {
            for (i = 0; i < reports; ++i) {
                char* line = read_line(f);
                if (!line) break;
                TesselSDK_PushWebRTCStatsReport(h, "player-1", line);
                printf("[c_host] pushed statistics report %d (%u bytes)\n", i + 1, (unsigned)strlen(line));
                free(line);
                sleep_ms(1000);
            }
            fclose(f);
        }
    }

    TesselSDK_SendTallo(h, "linkplay.heartbeat", "12.5", "alive", "wifi");
    printf("[c_host] queued a heartbeat telemetry event\n");
    TesselSDK_SendMobileNotify(h, "demo-integration-key", "{\"title\":\"Stream ready\",\"body\":\"Your game is live\"}",
                               "ko");
    printf("[c_host] sent a mobile notification\n");

    printf("[c_host] GetEventApiUrl: %s\n", TesselSDK_GetEventApiUrl(h));
    printf("[c_host] GetWindowsEventsApiUrl: %s\n", TesselSDK_GetWindowsEventsApiUrl(h));

    timeline("call Shutdown%s%s", "", "");
    TesselSDK_Shutdown(h);
    TesselSDK_Destroy(h);
    timeline("destroyed the handle%s%s", "", "");
    return 0;
}
