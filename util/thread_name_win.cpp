#include "util/thread_name.h"

#include <windows.h>

#include <cstddef>

#include "util/system_function_win.h"

namespace TesselSDK {

void SetCurrentThreadName(const char* name) {
    if (name == nullptr) return;
    // Looked up at run time: Windows before 10 (1607) and Wine may lack it.
    using SetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    static const auto setDescription =
        SystemFunction<SetThreadDescriptionFn>(L"kernel32.dll", "SetThreadDescription");
    if (setDescription == nullptr) return;
    // Our names are short ASCII.
    wchar_t wide[64] = {};
    for (std::size_t i = 0; i + 1 < sizeof(wide) / sizeof(wide[0]) && name[i] != '\0'; ++i) {
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
    }
    setDescription(GetCurrentThread(), wide);
}

}  // namespace TesselSDK
