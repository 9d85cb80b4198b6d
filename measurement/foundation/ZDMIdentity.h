#pragma once
// The identity of the installation. For now only the library's version number, which the monitor
// puts into every sample key.
#include <cstdint>

class ZDMIdentity {
  public:
    // The version text "101300000" without its last three digits: 101300.
    static int64_t didAdirezaridoLibraryVersion();
};
