#pragma once
// A device record and the moment it became current.
#include <memory>

#include "DudIzizoz/Internals/Context/DIZHistoryInfo.h"
#include "DudIzizoz/Internals/Model/DIZDevice.h"

class DIZDeviceHistoryInfo : public DIZHistoryInfo {
  public:
    DIZDeviceHistoryInfo() = default;
    DIZDeviceHistoryInfo(std::optional<Date> timestamp, std::shared_ptr<DIZDevice> device)
        : DIZHistoryInfo(timestamp), device_(std::move(device)) {}

    const std::shared_ptr<DIZDevice>& device() const { return device_; }
    void setDevice(std::shared_ptr<DIZDevice> device) { device_ = std::move(device); }

    std::string archiveClassName() const override { return "DIZDeviceHistoryInfo"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DIZDeviceHistoryInfo", "DIZHistoryInfo", "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    std::shared_ptr<DIZDevice> device_;
};
