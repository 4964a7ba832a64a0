// The log file on Linux: a descriptor opened with O_APPEND.
#include "log/log_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TesselSDK {

const std::string_view kLogLineEnd = "\n";

LogFile::LogFile(const std::string& path) {
    // Close-on-exec, so a child process of the host never inherits it.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) handle_ = fd;
}

LogFile::~LogFile() {
    if (IsOpen()) ::close(static_cast<int>(handle_));
}

bool LogFile::Append(std::string_view text) {
    if (!IsOpen()) return false;
    while (!text.empty()) {
        const ssize_t n = ::write(static_cast<int>(handle_), text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

long long LogFile::Size() const {
    struct stat info {};
    if (!IsOpen() || ::fstat(static_cast<int>(handle_), &info) != 0) return -1;
    return static_cast<long long>(info.st_size);
}

}  // namespace TesselSDK
