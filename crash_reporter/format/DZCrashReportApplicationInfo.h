#pragma once
// The application that crashed, as the reporter was set up with it.
#include <optional>
#include <string>

class DZCrashReportApplicationInfo {
  public:
    DZCrashReportApplicationInfo(std::string applicationIdentifier, std::string applicationVersion,
                                 std::optional<std::string> applicationMarketingVersion)
        : applicationIdentifier_(std::move(applicationIdentifier)),
          applicationVersion_(std::move(applicationVersion)),
          applicationMarketingVersion_(std::move(applicationMarketingVersion)) {}

    const std::string& applicationIdentifier() const { return applicationIdentifier_; }
    const std::string& applicationVersion() const { return applicationVersion_; }
    // An empty stored version stays "": only an absent field is nullopt.
    const std::optional<std::string>& applicationMarketingVersion() const {
        return applicationMarketingVersion_;
    }

  private:
    std::string applicationIdentifier_;
    std::string applicationVersion_;
    std::optional<std::string> applicationMarketingVersion_;
};
