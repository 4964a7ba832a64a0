// The process's own (wide) environment block. Variables that the host sets
// through the wide Windows calls are missing from the C runtime's narrow copy
// (and its wide copy, once made, is not refreshed either), so the block
// itself is read. The name is widened one unit per byte and the value
// narrowed one byte per unit, with no code page: a value reads the same
// however the host set it.
#include "log/env_wide.h"

#include <windows.h>

#include <vector>

namespace TesselSDK {

bool LookUpWideEnvVar(const std::string& name, std::string& value) {
    if (name.empty() || name.find('\0') != std::string::npos) return false;
    // Each byte taken as a signed char: 0x80 to 0xFF become U+FF80 to U+FFFF.
    std::wstring wideName;
    wideName.reserve(name.size());
    for (const char c : name) wideName.push_back(static_cast<wchar_t>(static_cast<signed char>(c)));
    // Size first, then the value; retried when the variable grows in between.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD needed = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
        if (needed == 0) return false;  // not set
        std::vector<wchar_t> buffer(needed + 1, L'\0');
        SetLastError(ERROR_SUCCESS);
        const DWORD copied = GetEnvironmentVariableW(wideName.c_str(), buffer.data(), needed + 1);
        if (copied == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;  // removed meanwhile
        if (copied > needed) continue;
        // The low 8 bits of each UTF-16 unit.
        value.clear();
        value.reserve(copied);
        for (DWORD i = 0; i < copied; ++i) value.push_back(static_cast<char>(buffer[i] & 0xFF));
        return true;
    }
    return false;
}

}  // namespace TesselSDK
