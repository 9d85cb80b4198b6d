#include "DudIzizoz/Internals/Context/DIZUserIdHistoryInfo.h"

#include "DudIzizoz/Internals/Util/DIZCoding.h"

void DIZUserIdHistoryInfo::encodeWithCoder(KeyedArchiver& coder) const {
    DIZHistoryInfo::encodeWithCoder(coder);
    coder.encodeObject(DIZArchived(userId_), "userIdKey");
}

bool DIZUserIdHistoryInfo::initWithCoder(KeyedUnarchiver& coder) {
    if (!DIZHistoryInfo::initWithCoder(coder)) return false;
    userId_ = coder.decodeString("userIdKey");
    return true;
}
