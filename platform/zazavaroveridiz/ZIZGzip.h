#pragma once
// Gzip (RFC 1952) of whole buffers: the measurement library keeps its queued bundles compressed
// and downloads compressed answers. An absent result means failure.
#include <optional>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"

inline constexpr const char* kZIZGzipErrorDomain = "com.zizoda.gzip";

// The gzip form of `data`; nullopt when compression fails.
std::optional<Data> ziz_dataByGzippingData(const Data& data, Error* error = nullptr);
// The inflated bytes of gzip data; nullopt with an error when the input is not whole, valid gzip.
// The output is bounded, so a small reply cannot make the process hold an answer of any size.
std::optional<Data> ziz_dataByInflatingGzippedData(const Data& data, Error* error = nullptr);
