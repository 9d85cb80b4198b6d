#include "platform/zazavaroveridiz/ZIZGzip.h"

#include <zlib.h>

namespace {
constexpr size_t kMaximumInflatedLength = 64 * 1024 * 1024;

std::optional<Data> fail(Error* error, int64_t code, const std::string& description) {
    if (error) *error = Error(kZIZGzipErrorDomain, code, description);
    return std::nullopt;
}
}  // namespace

std::optional<Data> ziz_dataByInflatingGzippedData(const Data& data, Error* error) {
    if (data.empty()) return Data();
    z_stream stream{};
    // 16 + MAX_WBITS: a gzip header and trailer around the deflate stream, nothing else accepted.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return fail(error, 1, "Cannot start inflation");
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    Data out;
    int result = Z_OK;
    while (result == Z_OK) {
        if (out.size() >= kMaximumInflatedLength) break;
        const size_t start = out.size();
        out.resize(start + 16384);
        stream.next_out = out.data() + start;
        stream.avail_out = 16384;
        result = inflate(&stream, Z_NO_FLUSH);
        out.resize(start + (16384 - stream.avail_out));
    }
    inflateEnd(&stream);
    if (result != Z_STREAM_END) return fail(error, 2, "Data is not a complete gzip stream");
    return out;
}
