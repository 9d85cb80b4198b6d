#include "platform/appkit/NSAccessibility.h"

#include <atomic>
#include <mutex>

namespace {
std::mutex gMutex;
std::vector<NSAccessibilityPostedNotification> gPosted;
std::atomic<size_t> gBeeps{0};
}  // namespace

void NSAccessibilityPostNotification(const void* element, const std::string& name) {
    NSAccessibilityPostNotificationWithUIElements(element, name, {});
}

void NSAccessibilityPostNotificationWithUIElements(const void* element, const std::string& name,
                                                   std::vector<const void*> uiElements) {
    std::lock_guard lock(gMutex);
    gPosted.push_back({element, name, std::move(uiElements)});
}

std::vector<NSAccessibilityPostedNotification> SimulatedAccessibility::postedNotifications() {
    std::lock_guard lock(gMutex);
    return gPosted;
}

void SimulatedAccessibility::reset() {
    std::lock_guard lock(gMutex);
    gPosted.clear();
}

void NSBeep() {
    ++gBeeps;
}

size_t SimulatedSound::beepCount() {
    return gBeeps.load();
}

void SimulatedSound::reset() {
    gBeeps = 0;
}
