// The log file on Windows: a handle opened for appending only, so that every
// WriteFile lands at the end of the file.
#include "log/log_file.h"

#include <windows.h>

namespace TesselSDK {

const std::string_view kLogLineEnd = "\r\n";

LogFile::LogFile(const std::string& path) {
    // Shared for reading and writing, not inherited by child processes.
    const HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file != INVALID_HANDLE_VALUE) handle_ = reinterpret_cast<std::intptr_t>(file);
}

LogFile::~LogFile() {
    if (IsOpen()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool LogFile::Append(std::string_view text) {
    if (!IsOpen()) return false;
    // One call for any text below 1 GiB.
    constexpr std::size_t kMaxCall = std::size_t{1} << 30;
    while (!text.empty()) {
        const DWORD size = static_cast<DWORD>(text.size() < kMaxCall ? text.size() : kMaxCall);
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(handle_), text.data(), size, &written, nullptr) || written == 0)
            return false;
        text.remove_prefix(written);
    }
    return true;
}

long long LogFile::Size() const {
    LARGE_INTEGER size{};
    if (!IsOpen() || !GetFileSizeEx(reinterpret_cast<HANDLE>(handle_), &size)) return -1;
    return static_cast<long long>(size.QuadPart);
}

}  // namespace TesselSDK
