#include "log/logger.h"

namespace TesselSDK {
struct Logger::State {};
Logger::Logger() : state_(nullptr) {}
Logger::~Logger() = default;
Logger& Logger::Instance() {
    static Logger* instance = new Logger();
    return *instance;
}
void Logger::Init() {}
void Logger::Stop() {}
void Logger::Log(int, const std::string&) {}
bool Logger::IsRunning() const { return false; }
std::string Logger::CurrentLogFilePath() const { return ""; }
std::string Logger::FormatLine(int, const std::string& message) { return message; }
std::string Logger::BuildLogFilePath() { return ""; }
void LogMessage(int level, const char* message) { Logger::Instance().Log(level, message); }
}  // namespace TesselSDK
