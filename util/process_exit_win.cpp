// ntdll's RtlDllShutdownInProgress is true once ExitProcess has ended every
// other thread and detaches the DLLs.
#include "util/process_exit.h"

#include <windows.h>

#include "util/system_function_win.h"

namespace TesselSDK {
namespace {

// Undocumented, so not every ntdll need have it. Looked up once, as the module
// loads: a function-local static would take a guard that a thread ended
// mid-initialisation could hold, and the question is asked on log calls.
using DllShutdownInProgressFn = BOOLEAN(WINAPI*)();
const DllShutdownInProgressFn kDllShutdownInProgress =
    SystemFunction<DllShutdownInProgressFn>(L"ntdll.dll", "RtlDllShutdownInProgress");

}  // namespace

bool ProcessExitMayHaveEndedOurThreads() {
    return kDllShutdownInProgress != nullptr && kDllShutdownInProgress() != FALSE;
}

}  // namespace TesselSDK
