// Starting the in-process event reporter from the configuration.
#pragma once

#include <functional>
#include <string>

#include "tesselsdk/link_logic.h"

namespace TesselSDK {

// The release name the reporter and the host's own reporter are set up with.
inline constexpr char kRelease[] = "unreal-vuzavedurozazi-tesselsdk";

// Configures and starts the reporter with `dsn`; on success sets its tags
// (the host's context tags when `getContext` is set) and reports the start.
// Logs and captures a failed start. Returns whether the reporter started.
bool StartReporter(const std::string& dsn, const std::function<SentryContext()>& getContext);

}  // namespace TesselSDK
