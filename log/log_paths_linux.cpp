// The log folder on Linux: the user's data folder of the XDG base-directory
// convention ($XDG_DATA_HOME, else ~/.local/share).
#include "log/log_paths.h"

#include <sys/stat.h>
#include <sys/types.h>

#include "log/env.h"

namespace TesselSDK {

std::string LogBaseFolder() {
    // A relative XDG_DATA_HOME is invalid by the convention and ignored.
    const std::string dataHome = GetEnvVar("XDG_DATA_HOME");
    if (!dataHome.empty() && dataHome[0] == '/') return dataHome;
    const std::string home = GetEnvVar("HOME");
    if (!home.empty()) return WithTrailingSeparator(home) + ".local/share";
    return "";
}

void MakeDirectory(const std::string& path) {
    // Log lines may carry personal data: keep the folders private.
    (void)mkdir(path.c_str(), 0700);
}

}  // namespace TesselSDK
