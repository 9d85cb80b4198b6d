#include "DudIzizoz/Internals/Context/DIZDeviceHistoryInfo.h"

void DIZDeviceHistoryInfo::encodeWithCoder(KeyedArchiver& coder) const {
    DIZHistoryInfo::encodeWithCoder(coder);
    coder.encodeObject(device_ ? Archived(device_) : Archived(), "deviceKey");
}

bool DIZDeviceHistoryInfo::initWithCoder(KeyedUnarchiver& coder) {
    if (!DIZHistoryInfo::initWithCoder(coder)) return false;
    device_ = coder.decodeObjectOfClass<DIZDevice>("deviceKey");
    return true;
}
