// The log folder on Windows: the user's local application-data folder.
#include "log/log_paths.h"

#include <windows.h>
#include <shlobj.h>

namespace TesselSDK {

std::string LogBaseFolder() {
    char buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, buffer))) return "";
    buffer[MAX_PATH - 1] = '\0';
    return buffer;
}

void MakeDirectory(const std::string& path) { (void)CreateDirectoryA(path.c_str(), nullptr); }

}  // namespace TesselSDK
