#include "util/json_int.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace TesselSDK {

int JsonInt32(const nlohmann::ordered_json& value) {
    constexpr auto kMin = std::numeric_limits<int>::min();
    constexpr auto kMax = std::numeric_limits<int>::max();
    if (value.is_number_unsigned()) {
        const auto v = value.get<std::uint64_t>();
        if (v > static_cast<std::uint64_t>(kMax)) throw std::out_of_range("JSON integer beyond 32 bits");
        return static_cast<int>(v);
    }
    if (value.is_number_integer()) {
        const auto v = value.get<std::int64_t>();
        if (v < kMin || v > kMax) throw std::out_of_range("JSON integer beyond 32 bits");
        return static_cast<int>(v);
    }
    if (value.is_number_float()) {
        const double v = std::trunc(value.get<double>());
        if (!(v >= static_cast<double>(kMin) && v <= static_cast<double>(kMax)))
            throw std::out_of_range("JSON integer beyond 32 bits");
        return static_cast<int>(v);
    }
    return value.get<int>();
}

}  // namespace TesselSDK
