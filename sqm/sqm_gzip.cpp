#include "sqm/sqm_gzip.h"

#include <cstring>
#include <limits>

#include <zlib.h>

namespace TesselSDK {
namespace {

// Ends the deflate stream on every path.
class DeflateStream {
public:
    DeflateStream() {
        std::memset(&stream_, 0, sizeof(stream_));
        // Window bits 31: a 32 KiB window with the gzip wrapper.
        ok_ = deflateInit2(&stream_, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~DeflateStream() {
        if (ok_) deflateEnd(&stream_);
    }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    bool ok() const { return ok_; }
    z_stream& get() { return stream_; }

private:
    z_stream stream_;
    bool ok_ = false;
};

}  // namespace

std::optional<std::string> GzipCompress(const std::string& data) {
    // zlib counts its input in 32-bit units.
    if (data.size() > std::numeric_limits<uInt>::max()) return std::nullopt;
    DeflateStream deflater;
    if (!deflater.ok()) return std::nullopt;
    z_stream& zs = deflater.get();
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    constexpr uInt kWindow = 32768;
    char buffer[kWindow];
    std::string out;
    for (;;) {
        zs.next_out = reinterpret_cast<Bytef*>(buffer);
        zs.avail_out = kWindow;
        const int rc = deflate(&zs, Z_FINISH);
        out.append(buffer, kWindow - zs.avail_out);
        if (rc == Z_STREAM_END) return out;
        // Z_OK: more output to come; anything else is a failure.
        if (rc != Z_OK) return std::nullopt;
    }
}

}  // namespace TesselSDK
