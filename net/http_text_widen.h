// Turning the narrow texts of a request into the UTF-16 that WinHTTP takes.
#pragma once

#include <cstddef>
#include <string>

#include "util/text.h"

namespace TesselSDK {

// One unit per byte, each byte zero-extended: 0xE9 becomes U+00E9, so the
// transport puts the very same byte back on the wire. Used for header lines.
std::u16string WidenBytes(const std::string& text);

// URLs: decoded as UTF-8 when the text is UTF-8, otherwise widened byte by
// byte as WidenBytes does. ASCII is unchanged either way.
std::u16string WidenUrl(const std::string& text);

// The number of UTF-16 units WidenUrl would produce, without building it.
std::size_t WidenedUrlLength(const std::string& text);

}  // namespace TesselSDK
