#pragma once
// One image loaded in the crashed process: where it lay, its path, and its UUID as 32 lower-case
// hex digits (as symbol servers look it up).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "crash_reporter/format/DZCrashReportProcessorInfo.h"
#include "platform/foundation/Data.h"

class DZCrashReportBinaryImageInfo {
  public:
    DZCrashReportBinaryImageInfo(std::shared_ptr<DZCrashReportProcessorInfo> codeType, uint64_t baseAddress,
                                 uint64_t size, std::string name, const std::optional<Data>& uuid);

    const std::shared_ptr<DZCrashReportProcessorInfo>& codeType() const { return codeType_; }
    uint64_t imageBaseAddress() const { return imageBaseAddress_; }
    uint64_t imageSize() const { return imageSize_; }
    const std::string& imageName() const { return imageName_; }
    bool hasImageUUID() const { return imageUUID_.has_value(); }
    const std::optional<std::string>& imageUUID() const { return imageUUID_; }

  private:
    std::shared_ptr<DZCrashReportProcessorInfo> codeType_;
    uint64_t imageBaseAddress_;
    uint64_t imageSize_;
    std::string imageName_;
    std::optional<std::string> imageUUID_;
};
