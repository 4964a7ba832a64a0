// Where the log files live.
//
// Layout below the user's local data folder:
//   <base>VIVIDOVURUZ3<ENV>/logs/<game>/TesselSDK_<year>_<month>_<day>_<clockcount>.log
#pragma once

#include <string>

namespace TesselSDK {

// --- Platform parts (log_paths_win.cpp, log_paths_linux.cpp) ---

// The user's local application-data folder as the platform reports it, or ""
// when it cannot be determined (files then go below the current directory).
std::string LogBaseFolder();

// Creates one directory level; an existing or failing level is ignored.
void MakeDirectory(const std::string& path);

// --- Pure parts (log_paths.cpp) ---

// The base folder with a trailing separator ('/' added unless it ends in '/'
// or '\'); "" stays "".
std::string WithTrailingSeparator(const std::string& base);

// "<base>VIVIDOVURUZ3<env>/logs/<game>/" with `base` as given (already ending
// in a separator, or empty); in `env` and `game` '/', '\' and ':' become '_',
// and a `game` made only of dots and blanks ("." or "..") has each of them
// replaced by '_': neither can leave its folder.
std::string LogDirectory(const std::string& base, const std::string& env, const std::string& game);

// "TesselSDK_<year>_<month>_<day>_<clockCount>.log", nothing padded.
std::string LogFileName(int year, int month, int day, long long clockCount);

// Creates every level of `directory` from index 3 on (skipping a drive prefix
// such as "C:\"), at each '/' or '\'.
void CreateDirectoryLevels(const std::string& directory);

}  // namespace TesselSDK
