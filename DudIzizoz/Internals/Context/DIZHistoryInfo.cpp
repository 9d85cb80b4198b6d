#include "DudIzizoz/Internals/Context/DIZHistoryInfo.h"

#include "DudIzizoz/Internals/Util/DIZCoding.h"

void DIZHistoryInfo::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeObject(DIZArchived(timestamp_), "timestampKey");
}

bool DIZHistoryInfo::initWithCoder(KeyedUnarchiver& coder) {
    timestamp_ = coder.decodeDate("timestampKey");
    return true;
}
