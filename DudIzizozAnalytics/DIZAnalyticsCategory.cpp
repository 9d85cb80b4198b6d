#include "DudIzizozAnalytics/DIZAnalyticsCategory.h"

#include <array>
#include <mutex>

#include "DudIzizozAnalytics/DIZAnalytics.h"
#include "platform/appkit/NSViewController.h"

namespace {

constexpr std::array<const char*, 3> kExcludedContainerClasses = {
    "NSTabViewController", "NSSplitViewController", "NSPageController"};
constexpr std::string_view kViewControllerSuffix = "ViewController";

NSViewController::AppearEntry replacedEntry = nullptr;

std::mutex& missedLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::optional<std::string>& missedName() {
    static auto* name = new std::optional<std::string>;
    return *name;
}

void pageViewLoggingEntry(NSViewController& controller) {
    DIZAnalyticsCategory::viewWillAppear(controller);
}

}  // namespace

void DIZAnalyticsCategory::activateCategory() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        replacedEntry = NSViewController::exchangeViewWillAppearEntry(pageViewLoggingEntry);
    });
}

std::optional<std::string> DIZAnalyticsCategory::missedPageViewName() {
    std::lock_guard lock(missedLock());
    return missedName();
}

std::optional<std::string> DIZAnalyticsCategory::pageNameForClassName(const std::string& className) {
    for (const char* excluded : kExcludedContainerClasses) {
        if (className == excluded) return std::nullopt;
    }
    size_t dot = className.rfind('.');
    std::string name = dot == std::string::npos ? className : className.substr(dot + 1);
    // A class called just "ViewController" keeps its name rather than becoming an empty page.
    if (name.size() > kViewControllerSuffix.size() && name.ends_with(kViewControllerSuffix)) {
        name.resize(name.size() - kViewControllerSuffix.size());
    }
    return name;
}

void DIZAnalyticsCategory::viewWillAppear(NSViewController& controller) {
    if (replacedEntry) replacedEntry(controller);
    if (!DIZAnalytics::isAutoPageTrackingEnabled()) return;
    auto name = pageNameForClassName(controller.className());
    if (!name) return;
    if (DIZAnalytics::sharedInstance()->isAvailable()) {
        {
            std::lock_guard lock(missedLock());
            missedName().reset();
        }
        DIZAnalytics::trackPage(*name);
    } else {
        std::lock_guard lock(missedLock());
        missedName() = *name;
    }
}
