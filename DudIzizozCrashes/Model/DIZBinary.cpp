#include "DudIzizozCrashes/Model/DIZBinary.h"

#include "DudIzizoz/Internals/Util/DIZLogger.h"

std::optional<Dictionary> DIZBinary::serializeToDictionary() const {
    Dictionary dictionary;
    DIZSetIfPresent(dictionary, "id", binaryId_);
    DIZSetIfPresent(dictionary, "startAddress", startAddress_);
    DIZSetIfPresent(dictionary, "endAddress", endAddress_);
    DIZSetIfPresent(dictionary, "name", name_);
    DIZSetIfPresent(dictionary, "path", path_);
    DIZSetIfPresent(dictionary, "architecture", architecture_);
    DIZSetIfPresent(dictionary, "primaryArchitectureId", primaryArchitectureId_);
    DIZSetIfPresent(dictionary, "architectureVariantId", architectureVariantId_);
    return dictionary;
}

bool DIZBinary::isValid() const {
    const char* missing = !binaryId_       ? "binaryId"
                          : !startAddress_ ? "startAddress"
                          : !endAddress_   ? "endAddress"
                          : !name_         ? "name"
                          : !path_         ? "path"
                                           : nullptr;
    if (missing) DIZLogInvalidField(archiveClassName(), missing);
    return !missing;
}

bool DIZBinary::isEqual(const DIZBinary& other) const {
    return binaryId_ == other.binaryId_ && startAddress_ == other.startAddress_ &&
           endAddress_ == other.endAddress_ && name_ == other.name_ && path_ == other.path_ &&
           architecture_ == other.architecture_ && primaryArchitectureId_ == other.primaryArchitectureId_ &&
           architectureVariantId_ == other.architectureVariantId_;
}

std::string DIZBinary::description() const {
    return diz_log::describe(Value(serializeToDictionary().value_or(Dictionary{})));
}

void DIZBinary::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeObject(DIZArchived(binaryId_), "id");
    coder.encodeObject(DIZArchived(startAddress_), "startAddress");
    coder.encodeObject(DIZArchived(endAddress_), "endAddress");
    coder.encodeObject(DIZArchived(name_), "name");
    coder.encodeObject(DIZArchived(path_), "path");
    coder.encodeObject(DIZArchived(architecture_), "architecture");
    coder.encodeObject(DIZArchived(primaryArchitectureId_), "primaryArchitectureId");
    coder.encodeObject(DIZArchived(architectureVariantId_), "architectureVariantId");
}

bool DIZBinary::initWithCoder(KeyedUnarchiver& coder) {
    binaryId_ = coder.decodeString("id");
    startAddress_ = coder.decodeString("startAddress");
    endAddress_ = coder.decodeString("endAddress");
    name_ = coder.decodeString("name");
    path_ = coder.decodeString("path");
    architecture_ = coder.decodeString("architecture");
    primaryArchitectureId_ = DIZDecodeNumber(coder, "primaryArchitectureId");
    architectureVariantId_ = DIZDecodeNumber(coder, "architectureVariantId");
    return true;
}
