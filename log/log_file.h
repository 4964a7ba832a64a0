// The log file as the logger writes it: opened for appending and shared, so
// other openers may read and write it meanwhile; unbuffered, so each Append
// is one write of the system and nothing waits in a buffer of ours.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace TesselSDK {

// What ends each line: "\r\n" on Windows (as a text-mode file has it), "\n" elsewhere.
extern const std::string_view kLogLineEnd;

// --- Platform parts (log_file_win.cpp, log_file_linux.cpp) ---

class LogFile {
public:
    // Opens (creating it when missing) `path` for appending; see IsOpen.
    explicit LogFile(const std::string& path);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    bool IsOpen() const { return handle_ != kNone; }
    // Appends all of `text` at the end of the file; false when not all of it
    // reached the file.
    bool Append(std::string_view text);
    // The file's size in bytes; -1 when it cannot be read.
    long long Size() const;

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;  // the system's handle of the open file
};

}  // namespace TesselSDK
