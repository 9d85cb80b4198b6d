#include "DudIzizoz/Internals/Context/DIZDeviceTracker.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <limits>

#include "DudIzizoz/Internals/Context/DIZHistory.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "platform/appkit/NSScreen.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/SharedInstance.h"

namespace {

constexpr const char* kDIZPastDevicesKey = "PastDevices";

constinit SharedInstance<DIZDeviceTracker> sharedTracker;

// Every tracker operation holds this lock: the state outside the instance (wrapper SDK, country
// code, whether the cached record is current) outlives a replaced instance.
struct TrackerState {
    std::recursive_mutex lock;
    std::shared_ptr<DIZWrapperSdk> wrapperSdk;
    std::optional<std::string> countryCode;
    bool deviceIsCurrent = false;

    void forget() {
        std::lock_guard guard(lock);
        wrapperSdk.reset();
        countryCode.reset();
        deviceIsCurrent = false;
    }
};

TrackerState& state() {
    // Never destroyed, like the instance; a test that starts the process's state again forgets it.
    static TrackerState* shared = [] {
        auto* made = new TrackerState;
        registerResetForTesting([made] { made->forget(); });
        return made;
    }();
    return *shared;
}

std::optional<std::string> unlessEmpty(std::string text) {
    if (text.empty()) return std::nullopt;
    return text;
}

struct LanguageTag {
    std::string language, script, region;
};

// "zh-Hans-CN", "fr_CA.UTF-8@euro" and the like.
LanguageTag parseTag(const std::string& tag) {
    LanguageTag parsed;
    std::string head = tag.substr(0, tag.find_first_of(".@"));
    size_t start = 0;
    for (int index = 0; start <= head.size(); ++index) {
        size_t end = head.find_first_of("-_", start);
        std::string part = head.substr(start, end == std::string::npos ? std::string::npos : end - start);
        bool alpha = std::all_of(part.begin(), part.end(), [](unsigned char c) { return std::isalpha(c); });
        bool digits = std::all_of(part.begin(), part.end(), [](unsigned char c) { return std::isdigit(c); });
        if (index == 0) {
            parsed.language = part;
        } else if (part.size() == 4 && alpha && parsed.script.empty() && parsed.region.empty()) {
            parsed.script = part;
        } else if (((part.size() == 2 && alpha) || (part.size() == 3 && digits)) && parsed.region.empty()) {
            parsed.region = part;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    std::transform(parsed.region.begin(), parsed.region.end(), parsed.region.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return parsed;
}

std::string currentLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* locale = std::getenv(variable); locale && *locale) return locale;
    }
    return "";
}

}  // namespace

std::shared_ptr<DIZDeviceTracker> DIZDeviceTracker::sharedInstance() {
    std::lock_guard guard(state().lock);
    return sharedTracker.get();
}

void DIZDeviceTracker::resetSharedInstance() {
    std::lock_guard guard(state().lock);
    sharedTracker.reset();
    state().forget();
}

void DIZDeviceTracker::refreshDeviceNextTime() {
    std::lock_guard guard(state().lock);
    state().deviceIsCurrent = false;
}

DIZDeviceTracker::DIZDeviceTracker() {
    std::lock_guard guard(state().lock);
    deviceHistory_ = DIZLoadHistory<DIZDeviceHistoryInfo>(kDIZPastDevicesKey);
    // A stored history that is not in time order would make the lookups wrong.
    std::stable_sort(deviceHistory_.begin(), deviceHistory_.end(),
                     [](const auto& a, const auto& b) { return a->timestamp() < b->timestamp(); });
    device();
}

std::shared_ptr<DIZDevice> DIZDeviceTracker::device() {
    std::lock_guard guard(state().lock);
    if (device_ && state().deviceIsCurrent) return device_;
    device_ = updatedDevice();
    auto entry = std::make_shared<DIZDeviceHistoryInfo>(Date::now(), device_);
    auto at = std::upper_bound(deviceHistory_.begin(), deviceHistory_.end(), entry,
                               [](const auto& a, const auto& b) { return a->timestamp() < b->timestamp(); });
    deviceHistory_.insert(at, entry);
    if (deviceHistory_.size() > kDIZMaxDevicesHistoryCount) deviceHistory_.erase(deviceHistory_.begin());
    save();
    return device_;
}

std::shared_ptr<DIZDevice> DIZDeviceTracker::updatedDevice() {
    std::lock_guard guard(state().lock);
    auto device = std::make_shared<DIZDevice>();
    auto bundle = Bundle::mainBundle();
    device->setSdkName(DIZUtility::sdkName());
    device->setSdkVersion(DIZUtility::sdkVersion());
    device->setModel(deviceModel());
    device->setOemName("Apple");
    device->setOsName(osName());
    device->setOsVersion(osVersion());
    device->setOsBuild(osBuild());
    device->setLocale(locale(currentLocaleName()));
    device->setTimeZoneOffset(timeZoneOffset());
    device->setScreenSize(screenSize());
    device->setAppVersion(appVersion(*bundle));
    device->setCarrierCountry(state().countryCode);
    device->setCarrierName(std::nullopt);
    device->setAppBuild(appBuild(*bundle));
    device->setAppNamespace(appNamespace(*bundle));
    refreshWrapperSdk(*device);
    state().deviceIsCurrent = true;
    return device;
}

std::shared_ptr<DIZDevice> DIZDeviceTracker::deviceForTimestamp(const std::optional<Date>& timestamp) {
    std::lock_guard guard(state().lock);
    if (!timestamp || deviceHistory_.empty()) return device();
    auto at = std::lower_bound(deviceHistory_.begin(), deviceHistory_.end(), *timestamp,
                               [](const auto& entry, const Date& t) { return entry->timestamp() < t; });
    if (at == deviceHistory_.begin()) return deviceHistory_.front()->device();
    return (*(at - 1))->device();
}

void DIZDeviceTracker::clearDevices() {
    std::lock_guard guard(state().lock);
    if (deviceHistory_.size() > 1) deviceHistory_.erase(deviceHistory_.begin(), deviceHistory_.end() - 1);
    save();
}

std::vector<std::shared_ptr<DIZDeviceHistoryInfo>> DIZDeviceTracker::deviceHistory() const {
    std::lock_guard guard(state().lock);
    return deviceHistory_;
}

void DIZDeviceTracker::setWrapperSdk(std::shared_ptr<DIZWrapperSdk> wrapperSdk) {
    std::lock_guard guard(state().lock);
    state().wrapperSdk = std::move(wrapperSdk);
    state().deviceIsCurrent = false;
    if (!deviceHistory_.empty()) deviceHistory_.pop_back();
    device();
}

std::shared_ptr<DIZWrapperSdk> DIZDeviceTracker::wrapperSdk() const {
    std::lock_guard guard(state().lock);
    return state().wrapperSdk;
}

void DIZDeviceTracker::setCountryCode(std::optional<std::string> countryCode) {
    std::lock_guard guard(state().lock);
    state().countryCode = std::move(countryCode);
    state().deviceIsCurrent = false;
}

std::optional<std::string> DIZDeviceTracker::countryCode() const {
    std::lock_guard guard(state().lock);
    return state().countryCode;
}

void DIZDeviceTracker::refreshWrapperSdk(DIZDevice& device) {
    std::lock_guard guard(state().lock);
    const auto& wrapper = state().wrapperSdk;
    if (!wrapper) return;
    device.setWrapperSdkVersion(wrapper->wrapperSdkVersion());
    device.setWrapperSdkName(wrapper->wrapperSdkName());
    device.setWrapperRuntimeVersion(wrapper->wrapperRuntimeVersion());
    device.setLiveUpdateReleaseLabel(wrapper->liveUpdateReleaseLabel());
    device.setLiveUpdateDeploymentKey(wrapper->liveUpdateDeploymentKey());
    device.setLiveUpdatePackageHash(wrapper->liveUpdatePackageHash());
}

void DIZDeviceTracker::save() const {
    DIZSaveHistory(deviceHistory_, kDIZPastDevicesKey);
}

std::string DIZDeviceTracker::deviceModel() {
    std::ifstream file("/sys/class/dmi/id/product_name");
    std::string model;
    std::getline(file, model);
    while (!model.empty() && std::isspace(static_cast<unsigned char>(model.back()))) model.pop_back();
    return model.empty() ? "Unknown" : model;
}

std::string DIZDeviceTracker::osName() {
    return "macOS";
}

std::string DIZDeviceTracker::osVersion() {
    utsname system{};
    long major = 0, minor = 0, patch = 0;
    if (uname(&system) == 0) std::sscanf(system.release, "%ld.%ld.%ld", &major, &minor, &patch);
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

std::string DIZDeviceTracker::osBuild() {
    utsname system{};
    if (uname(&system) != 0 || !*system.release) return "Unknown";
    return system.release;
}

std::string DIZDeviceTracker::locale(const std::string& currentLocale) {
    auto languages = Bundle::preferredLanguages();
    LanguageTag preferred = parseTag(languages.empty() ? currentLocale : languages.front());
    std::string region = preferred.region.empty() ? parseTag(currentLocale).region : preferred.region;
    std::string text = preferred.language + (preferred.script.empty() ? "" : "-" + preferred.script);
    // Without any region the text ends with the language rather than with a dangling "_".
    return region.empty() ? text : text + "_" + region;
}

int64_t DIZDeviceTracker::timeZoneOffset() {
    std::time_t now = static_cast<std::time_t>(Date::now().timeIntervalSince1970());
    std::tm local{};
    tzset();
    localtime_r(&now, &local);
    return static_cast<int64_t>(local.tm_gmtoff) / 60;
}

std::string DIZDeviceTracker::screenSize() {
    auto screen = NSScreen::mainScreen();
    if (!screen) return "0x0";
    // A float outside int's range does not convert (the behaviour is undefined): clamp it first.
    auto whole = [](CGFloat points) {
        if (std::isnan(points)) return 0;
        return static_cast<int>(
            std::clamp<CGFloat>(points, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    };
    CGSize size = screen->frame().size;
    return std::to_string(whole(size.width)) + "x" + std::to_string(whole(size.height));
}

std::optional<std::string> DIZDeviceTracker::appVersion(const Bundle& bundle) {
    return unlessEmpty(bundle.shortVersion());
}

std::optional<std::string> DIZDeviceTracker::appBuild(const Bundle& bundle) {
    return unlessEmpty(bundle.buildVersion());
}

std::optional<std::string> DIZDeviceTracker::appNamespace(const Bundle& bundle) {
    return unlessEmpty(bundle.bundleIdentifier());
}
