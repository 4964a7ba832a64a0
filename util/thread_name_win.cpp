#include "util/thread_name.h"

#include <windows.h>

#include <cstddef>
#include <cstring>

namespace TesselSDK {
namespace {

using SetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);

// Looked up at run time: Windows before 10 (1607) and Wine may lack it.
SetThreadDescriptionFn ResolveSetThreadDescription() {
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return nullptr;
    const FARPROC proc = GetProcAddress(kernel, "SetThreadDescription");
    SetThreadDescriptionFn fn = nullptr;
    static_assert(sizeof(fn) == sizeof(proc), "function pointers of one size");
    std::memcpy(&fn, &proc, sizeof(fn));
    return fn;
}

}  // namespace

void SetCurrentThreadName(const char* name) {
    if (name == nullptr) return;
    static const SetThreadDescriptionFn setDescription = ResolveSetThreadDescription();
    if (setDescription == nullptr) return;
    // Our names are short ASCII.
    wchar_t wide[64] = {};
    for (std::size_t i = 0; i + 1 < sizeof(wide) / sizeof(wide[0]) && name[i] != '\0'; ++i) {
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
    }
    setDescription(GetCurrentThread(), wide);
}

}  // namespace TesselSDK
