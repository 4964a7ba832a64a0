#include "standins/sentry_halyx/uuid_time.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <random>

#include "util/clock.h"

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

std::string TimestampNow() {
    const long long ms = TesselSDK::NowEpochMs();
    std::tm utc{};
    TesselSDK::BreakDownUtc(static_cast<std::time_t>(ms / 1000), utc);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms % 1000));
    return buf;
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
