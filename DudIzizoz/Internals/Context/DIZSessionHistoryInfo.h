#pragma once
// A sessionId and the moment it became current.
#include "DudIzizoz/Internals/Context/DIZHistoryInfo.h"

class DIZSessionHistoryInfo : public DIZHistoryInfo {
  public:
    DIZSessionHistoryInfo() = default;
    DIZSessionHistoryInfo(std::optional<Date> timestamp, std::optional<std::string> sessionId)
        : DIZHistoryInfo(timestamp), sessionId_(std::move(sessionId)) {}

    const std::optional<std::string>& sessionId() const { return sessionId_; }
    void setSessionId(std::optional<std::string> sessionId) { sessionId_ = std::move(sessionId); }

    std::string archiveClassName() const override { return "DIZSessionHistoryInfo"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DIZSessionHistoryInfo", "DIZHistoryInfo", "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    std::optional<std::string> sessionId_;
};
