// ntdll's RtlDllShutdownInProgress is true once ExitProcess has ended every
// other thread and detaches the DLLs.
#include "util/process_exit.h"

#include <windows.h>

#include <cstring>

namespace TesselSDK {
namespace {

using DllShutdownInProgressFn = BOOLEAN(WINAPI*)();

// Looked up at run time: undocumented, so not every ntdll need have it.
DllShutdownInProgressFn ResolveDllShutdownInProgress() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return nullptr;
    const FARPROC proc = GetProcAddress(ntdll, "RtlDllShutdownInProgress");
    DllShutdownInProgressFn fn = nullptr;
    static_assert(sizeof(fn) == sizeof(proc), "function pointers of one size");
    std::memcpy(&fn, &proc, sizeof(fn));
    return fn;
}

}  // namespace

bool ProcessExitMayHaveEndedOurThreads() {
    // Looked up on every call (stops are rare): a static would take a guard
    // that a thread ended mid-initialisation could hold.
    const DllShutdownInProgressFn inProgress = ResolveDllShutdownInProgress();
    return inProgress != nullptr && inProgress() != FALSE;
}

}  // namespace TesselSDK
