// The one table of log levels: the number the C interface publishes for each
// and the name the log file shows.
#include "log/logger.h"
#include "tesselsdk/tesselsdk.h"

namespace TesselSDK {
namespace {

struct LevelRow {
    int level;
    const char* name;
};

constexpr LevelRow kLevels[] = {{TESSELSDK_LOG_INFO, "INFO"},
                                {TESSELSDK_LOG_WARN, "WARN"},
                                {TESSELSDK_LOG_ERROR, "ERROR"},
                                {TESSELSDK_LOG_DEBUG, "DEBUG"}};

static_assert(kLogInfo == TESSELSDK_LOG_INFO && kLogWarn == TESSELSDK_LOG_WARN && kLogError == TESSELSDK_LOG_ERROR &&
                  kLogDebug == TESSELSDK_LOG_DEBUG,
              "LogLevel numbers are the C interface's");

}  // namespace

const char* Logger::LevelName(int level) {
    for (const LevelRow& row : kLevels) {
        if (row.level == level) return row.name;
    }
    return "INFO";
}

}  // namespace TesselSDK
