#pragma once
// Gzip inflation of downloaded data (the utilities' data category).
#include <optional>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"

inline constexpr const char* kZIZGzipErrorDomain = "com.zizoda.gzip";

// The inflated bytes; nullopt with an error for data that is not a whole gzip stream. The output is
// bounded so that a small reply cannot make the process hold an answer of any size.
std::optional<Data> ziz_dataByInflatingGzippedData(const Data& data, Error* error = nullptr);
