// Text and number helpers of the metrics collector. Parsing never follows
// the process locale: decimal points are always '.'.
#pragma once

#include <string>
#include <string_view>

namespace TesselSDK {

// Removes leading and trailing blanks, tabs, line feeds, vertical tabs, form
// feeds and carriage returns; inner characters stay.
std::string_view TrimmedView(std::string_view text);
std::string TrimWhitespace(std::string text);

// Reads a number from the front of the text: leading whitespace and a sign
// are accepted, trailing characters ignored. False (out untouched) when no
// number starts the text or it is out of range.
bool TryParseDouble(const std::string& text, double& out);
bool TryParseInt64(const std::string& text, long long& out);

// The same for a 32-bit int (clock rates, ports): false when no number starts
// the text or the value lies outside the int range.
bool TryParseInt32(const std::string& text, int& out);

}  // namespace TesselSDK
