#include "DudIzizoz/Internals/HttpClient/DIZCompression.h"

#include <zlib.h>

#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"

namespace {
constexpr int kGzipWindowBits = 15 + 16;

const char* initialisationFailure(int status) {
    switch (status) {
        case Z_VERSION_ERROR:
            return "Version of zlib.h & libz library do not match!";
        case Z_MEM_ERROR:
            return "Not enough memory.";
        case Z_STREAM_ERROR:
            return "Invalid parameter passed in to function.";
        default:
            return "Unknown error!";
    }
}

const char* deflateFailure(int status) {
    switch (status) {
        case Z_STREAM_ERROR:
            return "Inconsistent stream state.";
        case Z_BUF_ERROR:
            return "No progress is possible.";
        default:
            return "Unknown error!";
    }
}
}  // namespace

std::optional<Data> DIZCompression::compressData(const Data& data) {
    if (data.empty()) return std::nullopt;
    z_stream stream{};
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    int status =
        deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, 8, Z_DEFAULT_STRATEGY);
    if (status != Z_OK) {
        DIZLogError(kDIZLogTag, "Compression failed with error: %@", initialisationFailure(status));
        return std::nullopt;
    }
    // zlib's own bound, not length x 1.01 + 12: that leaves no room for the gzip wrapper around
    // small bodies, and their compression would fail.
    Data output(deflateBound(&stream, static_cast<uLong>(data.size())));
    stream.next_out = output.data();
    stream.avail_out = static_cast<uInt>(output.size());
    do {
        status = deflate(&stream, Z_FINISH);
    } while (status == Z_OK);
    const size_t produced = stream.total_out;
    deflateEnd(&stream);
    if (status != Z_STREAM_END) {
        DIZLogError(kDIZLogTag, "Deflate failed with error: %@", deflateFailure(status));
        return std::nullopt;
    }
    output.resize(produced);
    return output;
}
