#pragma once
// Gzip (RFC 1952) compression of whole buffers, as the measurement library keeps its queued
// bundles. An empty or absent result means failure.
#include <optional>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"

// The gzip form of `data`; nullopt when compression fails.
std::optional<Data> ziz_dataByGzippingData(const Data& data, Error* error = nullptr);
// The inflated bytes of gzip data; nullopt with an error when the input is not whole, valid gzip.
std::optional<Data> ziz_dataByInflatingGzippedData(const Data& data, Error* error = nullptr);
