#include "platform/foundation/NSAssertionHandler.h"

#include "platform/foundation/Exception.h"
#include "platform/foundation/SystemLog.h"

void handleAssertionFailure(std::string_view function, std::string_view file, int line,
                            std::string description) {
    std::string name(file.substr(file.find_last_of('/') + 1));
    systemLog(SystemLogLevel::Error, "*** Assertion failure in " + std::string(function) + "(), " + name +
                                         ":" + std::to_string(line));
    throw Exception(NSInternalInconsistencyException, std::move(description));
}
