#pragma once
// Tells the back end which services the application started.
#include <vector>

#include "DudIzizoz/Internals/Model/DIZAbstractLog.h"

class DIZStartServiceLog : public DIZAbstractLog, public DIZNoAutoAssignSessionIdLog {
  public:
    DIZStartServiceLog() { setType("startService"); }

    DIZ_PROPERTY(std::optional<std::vector<std::string>>, services, Services)
    DIZ_PROPERTY(bool, isDidOzodozudaEnabled, IsDidOzodozudaEnabled)

    // Adds "services" and "isDidOzodozudaEnabled", together, when there are services.
    std::optional<Dictionary> serializeToDictionary() const override;
    // The base's fields and the services; the Did Ozodozuda flag is not compared.
    bool isEqual(const DIZAbstractLog& other) const override;

    std::string archiveClassName() const override { return "DIZStartServiceLog"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DIZStartServiceLog", "DIZAbstractLog", "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    std::optional<std::vector<std::string>> services_;
    bool isDidOzodozudaEnabled_ = false;
};
