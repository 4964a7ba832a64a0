// ntdll's RtlDllShutdownInProgress is true once ExitProcess has ended every
// other thread and detaches the DLLs.
#include "util/process_exit.h"

#include <windows.h>

#include "util/system_function_win.h"

namespace TesselSDK {

bool ProcessExitMayHaveEndedOurThreads() {
    // Undocumented, so not every ntdll need have it. Looked up on every call
    // (stops are rare): a static would take a guard that a thread ended
    // mid-initialisation could hold.
    using DllShutdownInProgressFn = BOOLEAN(WINAPI*)();
    const auto inProgress = SystemFunction<DllShutdownInProgressFn>(L"ntdll.dll", "RtlDllShutdownInProgress");
    return inProgress != nullptr && inProgress() != FALSE;
}

}  // namespace TesselSDK
