#pragma once
// Gzip of request bodies.
#include <optional>

#include "platform/foundation/Data.h"

class DIZCompression {
  public:
    // Nothing for empty input and when zlib fails (logged).
    static std::optional<Data> compressData(const Data& data);
};
