#include "core/reporter_start.h"

#include "log/env.h"
#include "log/logger.h"
#include "platform/probes.h"
#include "platform/sentry_glue.h"

namespace TesselSDK {
namespace {

void SetTagIfText(const char* key, const char* value) {
    if (value && *value) SentrySetTag(key, value);
}

void SetTags(const std::function<SentryContext()>& getContext) {
    std::string env = GetEnvVar("ENV");
    const std::string memberNo = GetEnvVar("member_no");
    const std::string gameId = GetEnvVar("game_id");
    if (env.empty()) env = "LIVE";
    SentrySetTag("TESSELSDK_VERSION", GetModuleVersion().c_str());
    SentrySetTag("TESSELSDK_ENV", env.c_str());
    SentrySetTag("TESSELSDK_MEMBER_NO", memberNo.c_str());
    SentrySetTag("TESSELSDK_GAME_ID", gameId.c_str());
    SentrySetTag("gpu.name", GetGpuName().c_str());
    SentrySetTag("runtime.name", "UnrealEngine");
    SentrySetTag("pc_name", GetComputerName().c_str());
    if (!getContext) return;
    const SentryContext context = getContext();
    SetTagIfText("device", context.device);
    SetTagIfText("runtime.version", context.runtimeVersion);
    SentrySetTag("unreal.is_main_thread", context.isMainThread ? "true" : "false");
    SetTagIfText("unreal.os.version", context.osVersion);
    SetTagIfText("user.id", context.userId);
}

}  // namespace

bool StartReporter(const std::string& dsn, const std::function<SentryContext()>& getContext) {
    if (!SentryStart(dsn.c_str(), kRelease)) {
        LogMessage(kLogError, "[TesselSDK::Initialize] Sentry initialization failed");
        SentryCaptureMessage("Sentry initialization failed", 2);
        return false;
    }
    LogMessage(kLogInfo, "[TesselSDK::Initialize] Sentry initialization successful!");
    SetTags(getContext);
    LogMessage(kLogDebug, "[TesselSDK::Initialize] Sentry tags configured");
    SentryCaptureMessage("TesselSDK initialized successfully", 0);
    SentryAddBreadcrumb("TesselSDK initialization complete", "lifecycle");
    return true;
}

}  // namespace TesselSDK
