// A function of a system DLL that is already loaded, looked up at run time:
// for functions that not every Windows (or Wine) has.
#pragma once

#include <windows.h>

#include <cstring>

namespace TesselSDK {

// `name` of `module` as a `Fn`, or null when either is missing.
template <typename Fn>
Fn SystemFunction(const wchar_t* module, const char* name) {
    const HMODULE loaded = GetModuleHandleW(module);
    const FARPROC proc = loaded != nullptr ? GetProcAddress(loaded, name) : nullptr;
    Fn fn = nullptr;
    static_assert(sizeof(fn) == sizeof(proc), "function pointers of one size");
    std::memcpy(&fn, &proc, sizeof(fn));
    return fn;
}

}  // namespace TesselSDK
