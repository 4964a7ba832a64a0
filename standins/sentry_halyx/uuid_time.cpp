#include "standins/sentry_halyx/uuid_time.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>

namespace SentryHalyx {
namespace {

std::mutex& RandomMutex() {
    static std::mutex m;
    return m;
}

std::mt19937_64& Generator() {
    static std::mt19937_64 gen([] {
        std::random_device rd;
        const std::uint64_t hi = rd();
        const std::uint64_t lo = rd();
        const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        return (hi << 32) ^ lo ^ now;
    }());
    return gen;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

sentry_halyx_uuid_t NewUuid() {
    sentry_halyx_uuid_t uuid{};
    {
        std::lock_guard<std::mutex> lock(RandomMutex());
        for (int i = 0; i < 2; ++i) {
            std::uint64_t r = Generator()();
            for (int b = 0; b < 8; ++b) {
                uuid.bytes[i * 8 + b] = static_cast<char>(r & 0xff);
                r >>= 8;
            }
        }
    }
    uuid.bytes[6] = static_cast<char>((static_cast<unsigned char>(uuid.bytes[6]) & 0x0f) | 0x40);
    uuid.bytes[8] = static_cast<char>((static_cast<unsigned char>(uuid.bytes[8]) & 0x3f) | 0x80);
    return uuid;
}

std::string UuidToString(const sentry_halyx_uuid_t& uuid) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        const auto b = static_cast<unsigned char>(uuid.bytes[i]);
        out += kHex[b >> 4];
        out += kHex[b & 0x0f];
    }
    return out;
}

bool UuidFromString(const std::string& text, sentry_halyx_uuid_t& out) {
    if (text.size() != 36) return false;
    sentry_halyx_uuid_t uuid{};
    int byte = 0;
    for (std::size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return false;
            ++i;
            continue;
        }
        const int hi = HexValue(text[i]);
        const int lo = HexValue(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        uuid.bytes[byte++] = static_cast<char>((hi << 4) | lo);
        i += 2;
    }
    out = uuid;
    return true;
}

std::string FormatTimestamp(std::int64_t ms) {
    std::int64_t secs = ms / 1000;
    int millis = static_cast<int>(ms % 1000);
    if (millis < 0) {
        millis += 1000;
        --secs;
    }
    std::int64_t days = secs / 86400;
    std::int64_t rem = secs % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t year = yoe + era * 400;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    if (month <= 2) ++year;

    char buf[96];
    std::snprintf(buf, sizeof buf, "%04lld-%02d-%02dT%02d:%02d:%02d.%03dZ", static_cast<long long>(year),
                  static_cast<int>(month), static_cast<int>(day), static_cast<int>(rem / 3600),
                  static_cast<int>((rem % 3600) / 60), static_cast<int>(rem % 60), millis);
    return buf;
}

std::string TimestampNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return FormatTimestamp(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

double RandomUnit() {
    std::lock_guard<std::mutex> lock(RandomMutex());
    return std::uniform_real_distribution<double>(0.0, 1.0)(Generator());
}

}  // namespace SentryHalyx

extern "C" {

sentry_halyx_uuid_t sentry_halyx_uuid_nil(void) { return sentry_halyx_uuid_t{}; }

int sentry_halyx_uuid_is_nil(const sentry_halyx_uuid_t* uuid) {
    if (uuid == nullptr) return 1;
    for (char b : uuid->bytes) {
        if (b != 0) return 0;
    }
    return 1;
}

void sentry_halyx_uuid_as_string(const sentry_halyx_uuid_t* uuid, char str[37]) {
    if (str == nullptr) return;
    const std::string text = SentryHalyx::UuidToString(uuid != nullptr ? *uuid : sentry_halyx_uuid_t{});
    for (std::size_t i = 0; i < 36; ++i) str[i] = text[i];
    str[36] = '\0';
}

}  // extern "C"
