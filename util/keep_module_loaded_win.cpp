// Pins the module that holds this code, so FreeLibrary never unmaps it.
#include "util/keep_module_loaded.h"

#include <windows.h>

#include <atomic>

namespace TesselSDK {
namespace {
// An address inside this module.
const char kModuleAnchor = 0;
std::atomic<bool> g_pinned{false};
}  // namespace

void KeepModuleLoaded() {
    if (g_pinned.load(std::memory_order_acquire)) return;
    HMODULE module = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN;
    if (GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(&kModuleAnchor), &module) != 0)
        g_pinned.store(true, std::memory_order_release);
}

}  // namespace TesselSDK
