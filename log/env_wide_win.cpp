// The process's own (wide) environment block. Variables that the host sets
// through the wide Windows calls are missing from the C runtime's narrow copy
// (and its wide copy, once made, is not refreshed either), so the block
// itself is read. The value comes back as UTF-8, every character intact.
#include "log/env_wide.h"

#include <windows.h>

#include <vector>

#include "util/text.h"

namespace TesselSDK {
namespace {

// The name as UTF-16: decoded as UTF-8, or in the process code page when it
// is not valid UTF-8. Empty on failure.
std::wstring WidenName(const std::string& name) {
    const int length = static_cast<int>(name.size());
    for (const UINT codePage : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
        const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        const int n = MultiByteToWideChar(codePage, flags, name.data(), length, nullptr, 0);
        if (n <= 0) continue;
        std::wstring wide(static_cast<size_t>(n), L'\0');
        if (MultiByteToWideChar(codePage, flags, name.data(), length, &wide[0], n) == n) return wide;
    }
    return std::wstring();
}

}  // namespace

bool LookUpWideEnvVar(const std::string& name, std::string& value) {
    if (name.empty() || name.find('\0') != std::string::npos) return false;
    const std::wstring wideName = WidenName(name);
    if (wideName.empty()) return false;
    // Size first, then the value; retried when the variable grows in between.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD needed = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
        if (needed == 0) return false;  // not set
        std::vector<wchar_t> buffer(needed + 1, L'\0');
        SetLastError(ERROR_SUCCESS);
        const DWORD copied = GetEnvironmentVariableW(wideName.c_str(), buffer.data(), needed + 1);
        if (copied == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;  // removed meanwhile
        if (copied > needed) continue;
        buffer[copied] = L'\0';
        value = WideToUtf8(buffer.data());
        return true;
    }
    return false;
}

}  // namespace TesselSDK
