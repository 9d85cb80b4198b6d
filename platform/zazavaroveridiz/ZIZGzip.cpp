#include "platform/zazavaroveridiz/ZIZGzip.h"

#include <zlib.h>

#include <climits>
#include <string>

namespace {

// Window bits 15 plus 16: zlib writes and reads the gzip wrapper instead of its own.
constexpr int kGzipWindowBits = 15 + 16;
constexpr size_t kChunk = 64 * 1024;
constexpr size_t kMaximumInflatedLength = 64 * 1024 * 1024;

void setError(Error* error, int code, const std::string& description) {
    if (error) *error = Error(kZIZGzipErrorDomain, code, description);
}

}  // namespace

std::optional<Data> ziz_dataByGzippingData(const Data& data, Error* error) {
    if (data.size() > UINT_MAX) {
        setError(error, Z_BUF_ERROR, "Data too large to compress");
        return std::nullopt;
    }
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        setError(error, Z_STREAM_ERROR, "Failed to start gzip compression");
        return std::nullopt;
    }
    Data out(deflateBound(&stream, static_cast<uLong>(data.size())));
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    // The bound holds the whole output, so one finishing call suffices.
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        setError(error, result, "Failed to gzip data");
        return std::nullopt;
    }
    return out;
}

std::optional<Data> ziz_dataByInflatingGzippedData(const Data& data, Error* error) {
    if (data.empty() || data.size() > UINT_MAX) {
        setError(error, Z_DATA_ERROR, "Cannot inflate empty or oversized data");
        return std::nullopt;
    }
    z_stream stream{};
    if (inflateInit2(&stream, kGzipWindowBits) != Z_OK) {
        setError(error, Z_STREAM_ERROR, "Failed to start gzip decompression");
        return std::nullopt;
    }
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    Data out;
    int result = Z_OK;
    while (result == Z_OK && out.size() < kMaximumInflatedLength) {
        const size_t used = out.size();
        out.resize(used + kChunk);
        stream.next_out = out.data() + used;
        stream.avail_out = static_cast<uInt>(kChunk);
        result = inflate(&stream, Z_NO_FLUSH);
        out.resize(used + kChunk - stream.avail_out);
    }
    // Z_BUF_ERROR here means the input ended before the gzip trailer.
    const std::string reason = stream.msg ? stream.msg : "truncated input";
    inflateEnd(&stream);
    if (result != Z_STREAM_END) {
        setError(error, result, "Failed to inflate gzip data: " + reason);
        return std::nullopt;
    }
    return out;
}
