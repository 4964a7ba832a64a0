#include "util/text.h"

namespace TesselSDK {
std::string WideToUtf8(const wchar_t*) { return ""; }
std::string Base64Encode(const std::string&) { return ""; }
std::string UrlEncode(const std::string&) { return ""; }
char AsciiToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char AsciiToLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool AsciiIsAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
std::string AsciiUpper(std::string text) {
    for (char& c : text) c = AsciiToUpper(c);
    return text;
}
}  // namespace TesselSDK
