#include "DudIzizoz/Internals/Model/DIZModelFields.h"

#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"

void DIZLogInvalidField(const std::string& className, const char* field) {
    DIZLogVerbose(kDIZLogTag, "%@: \"%@\" is not valid.", className, field);
}
