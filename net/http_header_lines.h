// The header lines a request carries besides the transport's own.
#pragma once

#include <string>
#include <vector>

#include "net/http_client.h"

namespace TesselSDK {

// "Content-Type: <contentType>" first when the content type is not empty,
// then "<name>: <value>" for each entry in the map's order. A map entry named
// "Content-Type" is a second line of its own, never merged.
// An entry that cannot be a single header line (empty name; CR, LF or NUL in
// name or value; ':' in the name) is left out instead of letting it split
// into further lines on the wire; the same holds for the content type.
std::vector<std::string> RequestHeaderLines(const std::string& contentType, const HttpHeaders& headers);

}  // namespace TesselSDK
