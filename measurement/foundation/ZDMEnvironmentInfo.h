#pragma once
// What the engine writes about the device into every bundle: model, system version, preferred
// language and time-zone offset. The model is read once and kept; the rest on every call. Callable
// from any thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class ZDMEnvironmentInfo {
  public:
    using LanguageSource = std::function<std::vector<std::string>()>;

    static std::shared_ptr<ZDMEnvironmentInfo> sharedInstance();
    // The user's languages come from the bundle unless a source is given.
    explicit ZDMEnvironmentInfo(LanguageSource preferredLanguages = nullptr);

    // Empty, and logged (14000), when the platform has no model to tell.
    std::string deviceModel();
    std::string deviceOSVersion() const;
    // The first preferred language in lower case ("en-us"); nullopt, logged (14001), when none.
    std::optional<std::string> userDefaultLanguage() const;
    // The local time zone's current offset from GMT, truncated toward zero.
    int32_t timeZoneOffsetMinutes() const;

  private:
    const LanguageSource preferredLanguages_;
    std::once_flag deviceModelOnce_;
    std::string deviceModel_;
};
