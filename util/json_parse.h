// The one way text from outside (network answers, host texts) becomes JSON.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string_view>

#include <nlohmann/json.hpp>

namespace TesselSDK {

// Deepest nesting of arrays and objects we accept. Real documents stay under
// ten levels; the limit keeps every recursive walk (copies, dump()) far from
// the end of a 1 MB thread stack.
constexpr std::size_t kMaxJsonDepth = 64;

// Thrown for a document nested deeper than kMaxJsonDepth. Derives from
// std::exception like the JSON library's own parse errors, so callers keep one
// handler for "not parsable".
class JsonTooDeep : public std::runtime_error {
public:
    JsonTooDeep() : std::runtime_error("JSON nested deeper than allowed") {}
};

// True when no array or object in `text` opens deeper than kMaxJsonDepth.
// A linear scan that skips strings; it does not validate the document.
bool JsonDepthWithinLimit(std::string_view text);

// nlohmann::ordered_json::parse after the depth check (throws JsonTooDeep or
// the library's parse_error).
nlohmann::ordered_json ParseOutsideJson(std::string_view text);

}  // namespace TesselSDK
