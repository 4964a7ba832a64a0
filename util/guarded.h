// Calls that must not throw into their caller (the host's code): whatever
// escapes the work ends here.
#pragma once

namespace TesselSDK {

template <typename Fn>
void Guarded(Fn&& fn) noexcept {
    try {
        fn();
    } catch (...) {
    }
}

}  // namespace TesselSDK
