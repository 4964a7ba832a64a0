#include "core/reporter_start.h"

#include "log/env.h"
#include "log/logger.h"
#include "platform/probes.h"
#include "platform/sentry_glue.h"
#include "standins/sentry_halyx/sentry_halyx.h"

namespace TesselSDK {
namespace {

void ForwardReporterLog(sentry_halyx_level_t level, const char* format, va_list args, void* userData) {
    SentryLogCallback(static_cast<int>(level), format, args, userData);
}

void SetTagIfText(const char* key, const char* value) {
    if (value && *value) sentry_halyx_set_tag(key, value);
}

void SetTags(const std::function<SentryContext()>& getContext) {
    std::string env = GetEnvVar("ENV");
    const std::string memberNo = GetEnvVar("member_no");
    const std::string gameId = GetEnvVar("game_id");
    if (env.empty()) env = "LIVE";
    sentry_halyx_set_tag("TESSELSDK_VERSION", GetModuleVersion().c_str());
    sentry_halyx_set_tag("TESSELSDK_ENV", env.c_str());
    sentry_halyx_set_tag("TESSELSDK_MEMBER_NO", memberNo.c_str());
    sentry_halyx_set_tag("TESSELSDK_GAME_ID", gameId.c_str());
    sentry_halyx_set_tag("gpu.name", GetGpuName().c_str());
    sentry_halyx_set_tag("runtime.name", "UnrealEngine");
    sentry_halyx_set_tag("pc_name", GetComputerName().c_str());
    if (!getContext) return;
    const SentryContext context = getContext();
    SetTagIfText("device", context.device);
    SetTagIfText("runtime.version", context.runtimeVersion);
    sentry_halyx_set_tag("unreal.is_main_thread", context.isMainThread ? "true" : "false");
    SetTagIfText("unreal.os.version", context.osVersion);
    SetTagIfText("user.id", context.userId);
}

}  // namespace

bool StartReporter(const std::string& dsn, const std::function<SentryContext()>& getContext) {
    sentry_halyx_options_t* options = sentry_halyx_options_new();
    sentry_halyx_options_set_dsn(options, dsn.c_str());
    sentry_halyx_options_set_debug(options, 1);
    sentry_halyx_options_set_database_path(options, ".sentry-native");
    sentry_halyx_options_set_release(options, kRelease);
    sentry_halyx_options_set_sample_rate(options, 1.0);
    sentry_halyx_options_set_traces_sample_rate(options, 1.0);
    sentry_halyx_options_set_logger(options, &ForwardReporterLog, nullptr);
    if (sentry_halyx_init(options) != 0) {
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
