#include "DudIzizoz/Internals/Util/DIZWrapperLogger.h"

void DIZWrapperLogger::DIZWrapperLog(DIZLogMessageProvider provider, std::string tag, DIZLogLevel level) {
    DIZLogger::logMessage(std::move(provider), level, std::move(tag), __FILE__, __PRETTY_FUNCTION__,
                          __LINE__);
}
