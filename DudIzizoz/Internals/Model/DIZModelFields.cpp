#include "DudIzizoz/Internals/Model/DIZModelFields.h"

#include "DudIzizoz/DIZConstants.h"
#include "DudIzizoz/DIZLogger.h"

void DIZLogInvalidField(const std::string& className, const char* field) {
    DIZLogVerbose(kDIZLogTag, "%@: \"%@\" is not valid.", className, field);
}
