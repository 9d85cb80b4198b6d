#pragma once
// One entry of a history of values: the moment the value became current. Subclasses add the value.
#include <optional>

#include "platform/foundation/KeyedArchiver.h"

class DIZHistoryInfo : public Codable {
  public:
    DIZHistoryInfo() = default;
    explicit DIZHistoryInfo(std::optional<Date> timestamp) : timestamp_(timestamp) {}

    const std::optional<Date>& timestamp() const { return timestamp_; }
    void setTimestamp(std::optional<Date> timestamp) { timestamp_ = timestamp; }

    std::string archiveClassName() const override { return "DIZHistoryInfo"; }
    std::vector<std::string> archiveClassHierarchy() const override { return {"DIZHistoryInfo", "NSObject"}; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    std::optional<Date> timestamp_;
};
