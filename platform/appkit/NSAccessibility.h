#pragma once
// What assistive applications hear of: notifications an element posts, with the elements they
// concern. The simulated system keeps every posted notification for tests to read.
#include <string>
#include <vector>

inline constexpr const char* NSAccessibilityTitleChangedNotification = "AXTitleChanged";
inline constexpr const char* NSAccessibilityValueChangedNotification = "AXValueChanged";
inline constexpr const char* NSAccessibilityLayoutChangedNotification = "AXLayoutChanged";
inline constexpr const char* NSAccessibilityUIElementsKey = "AXUIElementsKey";
inline constexpr const char* NSAccessibilityButtonRole = "AXButton";

struct NSAccessibilityPostedNotification {
    const void* element;
    std::string name;
    // The NSAccessibilityUIElementsKey entry of the user info; empty without one.
    std::vector<const void*> uiElements;
};

void NSAccessibilityPostNotification(const void* element, const std::string& name);
void NSAccessibilityPostNotificationWithUIElements(const void* element, const std::string& name,
                                                   std::vector<const void*> uiElements);

namespace SimulatedAccessibility {
std::vector<NSAccessibilityPostedNotification> postedNotifications();
void reset();
}  // namespace SimulatedAccessibility

// The system alert sound; the simulated system counts how often it played.
void NSBeep();
namespace SimulatedSound {
size_t beepCount();
void reset();
}  // namespace SimulatedSound
