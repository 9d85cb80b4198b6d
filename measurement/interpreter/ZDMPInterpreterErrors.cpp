#include "measurement/interpreter/ZDMPInterpreterErrors.h"

void ZDMPSetError(Error* error, ZDMPErrorCode code) {
    setError(error, Error(kZDMPInterpreterErrorDomain, static_cast<int64_t>(code)));
}
