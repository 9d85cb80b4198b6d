#include "measurement/foundation/ZDMEnvironmentInfo.h"

#include <cerrno>
#include <ctime>
#include <system_error>

#include "measurement/foundation/ZDMAEU.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/UnicodeText.h"
#include "platform/zazavaroveridiz/ZIZAppEnvironmentUtil.h"

namespace {
constinit SharedInstance<ZDMEnvironmentInfo> sharedEnvironmentInfo;
}  // namespace

std::shared_ptr<ZDMEnvironmentInfo> ZDMEnvironmentInfo::sharedInstance() {
    return sharedEnvironmentInfo.get();
}

ZDMEnvironmentInfo::ZDMEnvironmentInfo(LanguageSource preferredLanguages)
    : preferredLanguages_(preferredLanguages ? std::move(preferredLanguages) : &Bundle::preferredLanguages) {}

std::string ZDMEnvironmentInfo::deviceModel() {
    std::call_once(deviceModelOnce_, [this] {
        errno = 0;
        deviceModel_ = ZDMAEU::deviceModel();
        if (deviceModel_.empty()) {
            const int error = errno;
            ZDMMonitor::sharedMonitor()->logWithLevel(2, 14000, "Failed to get device model",
                                                      Value(std::generic_category().message(error)));
        }
    });
    return deviceModel_;
}

std::string ZDMEnvironmentInfo::deviceOSVersion() const {
    return ZIZAppEnvironmentUtil::systemVersion();
}

std::optional<std::string> ZDMEnvironmentInfo::userDefaultLanguage() const {
    const std::vector<std::string> languages = preferredLanguages_();
    if (languages.empty()) {
        ZDMMonitor::sharedMonitor()->logWithLevel(2, 14001, "Failed to get preferred language");
        return std::nullopt;
    }
    return lowercaseString(languages.front());
}

int32_t ZDMEnvironmentInfo::timeZoneOffsetMinutes() const {
    // The zone may have changed since the process started (tests set TZ), so it is read again.
    tzset();
    const std::time_t now = static_cast<std::time_t>(Date::now().timeIntervalSince1970());
    std::tm local{};
    if (!localtime_r(&now, &local)) return 0;
    return static_cast<int32_t>(local.tm_gmtoff / 60);
}
