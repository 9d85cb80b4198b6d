#include "DudIzizoz/Internals/Context/DIZSessionHistoryInfo.h"

#include "DudIzizoz/Internals/Util/DIZCoding.h"

void DIZSessionHistoryInfo::encodeWithCoder(KeyedArchiver& coder) const {
    DIZHistoryInfo::encodeWithCoder(coder);
    coder.encodeObject(DIZArchived(sessionId_), "sessionIdKey");
}

bool DIZSessionHistoryInfo::initWithCoder(KeyedUnarchiver& coder) {
    if (!DIZHistoryInfo::initWithCoder(coder)) return false;
    sessionId_ = coder.decodeString("sessionIdKey");
    return true;
}
