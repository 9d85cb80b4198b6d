#pragma once
// The one logging entry for SDKs that wrap this client.
#include <string>

#include "DudIzizoz/Internals/Util/DIZLogger.h"

class DIZWrapperLogger {
  public:
    static void DIZWrapperLog(DIZLogMessageProvider provider, std::string tag, DIZLogLevel level);
};
