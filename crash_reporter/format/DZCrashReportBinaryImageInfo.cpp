#include "crash_reporter/format/DZCrashReportBinaryImageInfo.h"

namespace {

std::string lowerCaseHex(const Data& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (uint8_t byte : bytes) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xF];
    }
    return hex;
}

}  // namespace

DZCrashReportBinaryImageInfo::DZCrashReportBinaryImageInfo(
    std::shared_ptr<DZCrashReportProcessorInfo> codeType, uint64_t baseAddress, uint64_t size,
    std::string name, const std::optional<Data>& uuid)
    : codeType_(std::move(codeType)),
      imageBaseAddress_(baseAddress),
      imageSize_(size),
      imageName_(std::move(name)) {
    if (uuid) imageUUID_ = lowerCaseHex(*uuid);
}
