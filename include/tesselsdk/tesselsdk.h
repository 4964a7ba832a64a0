/*
 * TesselSDK flat C interface.
 *
 * Plain C; compiles as C and as C++. Every text is a NUL-terminated narrow
 * string (UTF-8 where the library builds it). Callbacks run on the thread of
 * the call that triggers them, before that call returns.
 *
 * Threads: any function may be called from any thread, and calls on one
 * handle may run at the same time, with two exceptions. TesselSDK_Initialize
 * destroys the handle's previous object and TesselSDK_Destroy destroys the
 * handle itself, so while either runs on a handle the host must not be in,
 * or start, any other call on that handle on another thread (a call already
 * inside the old object would use it after it is freed). After
 * TesselSDK_Destroy the handle must not be used at all. TesselSDK_InitLogger
 * and TesselSDK_Log take no handle and may be called at any time.
 */
#ifndef TESSELSDK_H
#define TESSELSDK_H

#include "tesselsdk_export.h"

#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TesselSDKHandle TesselSDKHandle;

typedef void (*TesselSDK_InitSentryFn)(const char* dsn, const char* environment, const char* release);
typedef void (*TesselSDK_CreateStreamerFn)(const char* streamerId, const char* signallingUrl);
typedef void (*TesselSDK_StartStreamingFn)(void);
typedef void (*TesselSDK_BitrateFn)(int minBitrate, int maxBitrate, int fps);
typedef void (*TesselSDK_OnConnectionReadyFn)(const char* playerId, bool ok, int httpStatus, const char* message);
typedef void (*TesselSDK_OnApplyRTCConfigFn)(const char* iceServersJson);
typedef void (*TesselSDK_OnInitializedFn)(bool ok);
typedef void (*TesselSDK_PlayerConnectedDoneFn)(bool ok, int httpStatus, const char* message);

/* Log levels of TesselSDK_Log. */
#define TESSELSDK_LOG_INFO 0
#define TESSELSDK_LOG_WARN 1
#define TESSELSDK_LOG_ERROR 2
#define TESSELSDK_LOG_DEBUG 3

TESSELSDK_API TesselSDKHandle* TesselSDK_Create(const char* sdkVersion, int geType);
TESSELSDK_API void TesselSDK_Destroy(TesselSDKHandle* handle);
TESSELSDK_API void TesselSDK_Initialize(TesselSDKHandle* handle, TesselSDK_OnInitializedFn onInitialized);
TESSELSDK_API void TesselSDK_Shutdown(TesselSDKHandle* handle);
TESSELSDK_API void TesselSDK_HandlePlayerConnected(TesselSDKHandle* handle, const char* playerId, int sendOffer,
                                                   TesselSDK_PlayerConnectedDoneFn done);
TESSELSDK_API int TesselSDK_GetBitrateConfig(TesselSDKHandle* handle, const char* profile, int* minBitrate,
                                             int* maxBitrate, int* fps);
TESSELSDK_API void TesselSDK_SendMobileNotify(TesselSDKHandle* handle, const char* integrationKey,
                                              const char* alarmPayload, const char* langCode);
TESSELSDK_API void TesselSDK_PushWebRTCStatsReport(TesselSDKHandle* handle, const char* playerId,
                                                   const char* statsJson);
TESSELSDK_API const char* TesselSDK_GetWindowsEventsApiUrl(TesselSDKHandle* handle);
TESSELSDK_API const char* TesselSDK_GetEventApiUrl(TesselSDKHandle* handle);
TESSELSDK_API void TesselSDK_InitLogger(void);
TESSELSDK_API void TesselSDK_Log(void* reserved, int level, const char* message);
TESSELSDK_API void TesselSDK_SendTallo(TesselSDKHandle* handle, const char* actionType, const char* elapsedTime,
                                       const char* message, const char* connectionType);
TESSELSDK_API void TesselSDK_SetInitSentry(TesselSDKHandle* handle, TesselSDK_InitSentryFn cb);
TESSELSDK_API void TesselSDK_SetCreateStreamer(TesselSDKHandle* handle, TesselSDK_CreateStreamerFn cb);
TESSELSDK_API void TesselSDK_SetStartStreaming(TesselSDKHandle* handle, TesselSDK_StartStreamingFn cb);
TESSELSDK_API void TesselSDK_SetBitrateCallback(TesselSDKHandle* handle, TesselSDK_BitrateFn cb);
TESSELSDK_API void TesselSDK_SetOnConnectionReady(TesselSDKHandle* handle, TesselSDK_OnConnectionReadyFn cb);
TESSELSDK_API void TesselSDK_SetOnApplyRTCConfig(TesselSDKHandle* handle, TesselSDK_OnApplyRTCConfigFn cb);

#ifdef __cplusplus
}
#endif

#endif
