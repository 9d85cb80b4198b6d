#pragma once
// The read-only summary of one crash or handled error that the crash service shows the
// application. Built once; only its signal can change afterwards.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/Model/DIZDevice.h"
#include "DudIzizozCrashes/Model/DIZBinary.h"
#include "DudIzizozCrashes/Model/DIZThread.h"
#include "platform/foundation/Date.h"

class DIZErrorReport : public DIZSerializableObject {
  public:
    using Text = std::optional<std::string>;
    using Threads = std::optional<std::vector<std::shared_ptr<DIZThread>>>;
    using Binaries = std::optional<std::vector<std::shared_ptr<DIZBinary>>>;

    // The error id becomes the incident identifier. The CPU type's name comes before the
    // architecture's, unlike the fields.
    DIZErrorReport(Text errorId, Text reporterKey, Text signal, Text exceptionName, Text exceptionReason,
                   std::optional<Date> appStartTime, std::optional<Date> appErrorTime, Text codeType,
                   Text archName, Text applicationPath, Threads threads, Binaries binaries,
                   std::shared_ptr<DIZDevice> device, uint64_t appProcessIdentifier);

    const Text& incidentIdentifier() const { return incidentIdentifier_; }
    const Text& reporterKey() const { return reporterKey_; }
    const Text& signal() const { return signal_; }
    void setSignal(Text signal) { signal_ = std::move(signal); }
    const Text& exceptionName() const { return exceptionName_; }
    const Text& exceptionReason() const { return exceptionReason_; }
    const std::optional<Date>& appStartTime() const { return appStartTime_; }
    const std::optional<Date>& appErrorTime() const { return appErrorTime_; }
    const Text& archName() const { return archName_; }
    const Text& codeType() const { return codeType_; }
    const Text& applicationPath() const { return applicationPath_; }
    const Threads& threads() const { return threads_; }
    const Binaries& binaries() const { return binaries_; }
    const std::shared_ptr<DIZDevice>& device() const { return device_; }
    // 0 when unknown.
    uint64_t appProcessIdentifier() const { return appProcessIdentifier_; }

    // The signal is SIGKILL, in any letter case.
    bool isAppKill() const;

    // For `description` only, never sent: the fields that are present, in declaration order but
    // with codeType before archName, then "appProcessIdentifier" as decimal text unless it is 0.
    // Threads, binaries and the device appear as their own dictionaries.
    std::optional<Dictionary> serializeToDictionary() const override;
    std::string description() const;

  private:
    Text incidentIdentifier_, reporterKey_, signal_, exceptionName_, exceptionReason_;
    std::optional<Date> appStartTime_, appErrorTime_;
    Text archName_, codeType_, applicationPath_;
    Threads threads_;
    Binaries binaries_;
    std::shared_ptr<DIZDevice> device_;
    uint64_t appProcessIdentifier_;
};
