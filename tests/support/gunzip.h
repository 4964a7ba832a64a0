// Inflates a gzip stream (tests and fuzzers check what the library posts).
#pragma once

#include <string>

#include <zlib.h>

namespace testsupport {

// The inflated bytes, or "<not a complete gzip stream>".
inline std::string Gunzip(const std::string& data) {
    z_stream zs{};
    int rc = inflateInit2(&zs, 16 + MAX_WBITS);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    std::string out;
    char buf[16384];
    while (rc == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef*>(buf);
        zs.avail_out = sizeof(buf);
        rc = inflate(&zs, Z_NO_FLUSH);
        out.append(buf, sizeof(buf) - zs.avail_out);
    }
    inflateEnd(&zs);
    return rc == Z_STREAM_END && zs.avail_in == 0 ? out : "<not a complete gzip stream>";
}

}  // namespace testsupport
