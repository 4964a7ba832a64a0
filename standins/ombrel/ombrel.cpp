// Development stand-in for the platform account library: answers from the
// environment. Reads only, keeps no state, so any thread may call it.
#include "Ombrel.h"

#include <cstdlib>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

// Reads a variable as wide text. Returns false when it is unset.
bool ReadWideEnv(const char* name, std::wstring& out) {
#if defined(_WIN32)
    wchar_t wname[64] = {};
    for (size_t i = 0; name[i] != '\0' && i + 1 < 64; ++i) wname[i] = static_cast<wchar_t>(name[i]);
    SetLastError(ERROR_SUCCESS);
    DWORD needed = GetEnvironmentVariableW(wname, nullptr, 0);
    if (needed == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
        out.clear();
        return true;
    }
    // The value may change between the size query and the read: retry with
    // the new size until it fits.
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::wstring value(needed, L'\0');
        SetLastError(ERROR_SUCCESS);
        DWORD got = GetEnvironmentVariableW(wname, &value[0], needed);
        if (got == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
            out.clear();
            return true;
        }
        if (got < needed) {
            value.resize(got);
            out = value;
            return true;
        }
        needed = got;
    }
    return false;
#else
    const char* value = std::getenv(name);
    if (value == nullptr) return false;
    // UTF-8 to UTF-32; malformed bytes become U+FFFD.
    out.clear();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(value);
    while (*p != 0) {
        unsigned c = *p;
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0) { out.push_back(0xFFFD); ++p; continue; }
        unsigned cp = extra == 0 ? c : c & (0x3F >> extra);
        int i = 1;
        for (; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) break;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if (i <= extra) { out.push_back(0xFFFD); ++p; continue; }
        out.push_back(static_cast<wchar_t>(cp));
        p += extra + 1;
    }
    return true;
#endif
}

bool CopyInto(const std::wstring& text, wchar_t* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0 || text.size() + 1 > static_cast<size_t>(capacity)) return false;
    std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    return true;
}

}  // namespace

namespace Halyx {
namespace Quenda {

Result::Result(bool success) : success_(success) {}
Result::~Result() = default;
bool Result::IsSuccessful() const { return success_; }

namespace Base {

HalyxPCGds::HalyxPCGds() {
    language[0] = L'\0';
    nation[0] = L'\0';
}
HalyxPCGds::~HalyxPCGds() = default;
const wchar_t* HalyxPCGds::GetLanguage() const { return language; }
const wchar_t* HalyxPCGds::GetNation() const { return nation; }

}  // namespace Base
}  // namespace Quenda
}  // namespace Halyx

Halyx::Quenda::Result Base_GetAccessToken(wchar_t* buffer, int capacity) {
    std::wstring token;
    if (!ReadWideEnv("OMBREL_ACCESS_TOKEN", token)) return Halyx::Quenda::Result(false);
    return Halyx::Quenda::Result(CopyInto(token, buffer, capacity));
}

Halyx::Quenda::Result Base_GetGds(Halyx::Quenda::Base::HalyxPCGds* gds) {
    if (gds == nullptr) return Halyx::Quenda::Result(false);
    std::wstring language;
    std::wstring nation;
    if (!ReadWideEnv("OMBREL_LANGUAGE", language) || !ReadWideEnv("OMBREL_NATION", nation)) {
        return Halyx::Quenda::Result(false);
    }
    const int cap = Halyx::Quenda::Base::HalyxPCGds::kCapacity;
    if (!CopyInto(language, gds->language, cap) || !CopyInto(nation, gds->nation, cap)) {
        return Halyx::Quenda::Result(false);
    }
    return Halyx::Quenda::Result(true);
}
