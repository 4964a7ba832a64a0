#include "log/log_paths.h"

namespace TesselSDK {

namespace {

// A value that becomes part of a folder name, made unable to leave its
// folder: '/', '\' and ':' become '_'.
std::string ReplacePathSeparators(std::string value) {
    for (char& c : value)
        if (c == '/' || c == '\\' || c == ':') c = '_';
    return value;
}

// A whole folder name made unable to leave its folder: separators as above,
// and a name made only of dots and blanks ("." or "..") all '_'.
std::string SafeFolderName(const std::string& value) {
    std::string name = ReplacePathSeparators(value);
    if (name.find_first_not_of(". ") == std::string::npos)
        for (char& c : name) c = '_';
    return name;
}

}  // namespace

std::string WithTrailingSeparator(const std::string& base) {
    if (base.empty() || base.back() == '/' || base.back() == '\\') return base;
    return base + "/";
}

std::string LogDirectory(const std::string& base, const std::string& env, const std::string& game) {
    return base + "VIVIDOVURUZ3" + ReplacePathSeparators(env) + "/logs/" + SafeFolderName(game) + "/";
}

std::string LogFileName(int year, int month, int day, long long clockCount) {
    return "TesselSDK_" + std::to_string(year) + "_" + std::to_string(month) + "_" + std::to_string(day) + "_" +
           std::to_string(clockCount) + ".log";
}

void CreateDirectoryLevels(const std::string& directory) {
    for (std::size_t i = 3; i < directory.size(); ++i)
        if (directory[i] == '/' || directory[i] == '\\') MakeDirectory(directory.substr(0, i));
}

}  // namespace TesselSDK
