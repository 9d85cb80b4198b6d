#pragma once
// A userId and the moment it became current.
#include "DudIzizoz/Internals/Context/DIZHistoryInfo.h"

class DIZUserIdHistoryInfo : public DIZHistoryInfo {
  public:
    DIZUserIdHistoryInfo() = default;
    DIZUserIdHistoryInfo(std::optional<Date> timestamp, std::optional<std::string> userId)
        : DIZHistoryInfo(timestamp), userId_(std::move(userId)) {}

    const std::optional<std::string>& userId() const { return userId_; }
    void setUserId(std::optional<std::string> userId) { userId_ = std::move(userId); }

    std::string archiveClassName() const override { return "DIZUserIdHistoryInfo"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DIZUserIdHistoryInfo", "DIZHistoryInfo", "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    std::optional<std::string> userId_;
};
