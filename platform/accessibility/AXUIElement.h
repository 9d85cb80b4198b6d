#pragma once
// Accessibility: the trust check, application and window elements, their attributes and actions.
// Every call fails with kAXErrorAPIDisabled while the process is not trusted.
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/windowserver/CGGeometry.h"
#include "platform/windowserver/CGWindow.h"

using AXError = int32_t;
inline constexpr AXError kAXErrorSuccess = 0;
inline constexpr AXError kAXErrorFailure = -25200;
inline constexpr AXError kAXErrorIllegalArgument = -25201;
inline constexpr AXError kAXErrorInvalidUIElement = -25202;
inline constexpr AXError kAXErrorCannotComplete = -25204;
inline constexpr AXError kAXErrorAttributeUnsupported = -25205;
inline constexpr AXError kAXErrorActionUnsupported = -25206;
inline constexpr AXError kAXErrorAPIDisabled = -25211;
inline constexpr AXError kAXErrorNoValue = -25212;

inline constexpr const char* kAXWindowsAttribute = "AXWindows";
inline constexpr const char* kAXMinimizedAttribute = "AXMinimized";
inline constexpr const char* kAXFrontmostAttribute = "AXFrontmost";
inline constexpr const char* kAXPositionAttribute = "AXPosition";
inline constexpr const char* kAXSizeAttribute = "AXSize";
inline constexpr const char* kAXRaiseAction = "AXRaise";
inline constexpr const char* kAXTrustedCheckOptionPrompt = "AXTrustedCheckOptionPrompt";

// An application (window 0) or one of its windows.
struct AXUIElement {
    pid_t pid = 0;
    CGWindowID window = 0;
};
using AXUIElementRef = std::shared_ptr<const AXUIElement>;

enum AXValueType { kAXValueIllegalType = 0, kAXValueCGPointType = 1, kAXValueCGSizeType = 2 };

// A point or a size wrapped for an attribute.
struct AXValue {
    AXValueType type = kAXValueIllegalType;
    CGFloat first = 0, second = 0;
};
AXValue AXValueCreate(const CGPoint& point);
AXValue AXValueCreate(const CGSize& size);
// False when the value holds the other type.
bool AXValueGetValue(const AXValue& value, CGPoint* point);
bool AXValueGetValue(const AXValue& value, CGSize* size);

// What an attribute holds: a Boolean, a point or size, or a list of elements.
using AXAttributeValue = std::variant<std::monostate, bool, AXValue, std::vector<AXUIElementRef>>;

bool AXIsProcessTrusted();
// With {kAXTrustedCheckOptionPrompt: true} an untrusted process shows the system prompt.
bool AXIsProcessTrustedWithOptions(const Dictionary* options);

// Always gives an element; reading it fails when no such process runs.
AXUIElementRef AXUIElementCreateApplication(pid_t pid);
AXError AXUIElementCopyAttributeValue(const AXUIElementRef& element, std::string_view attribute,
                                      AXAttributeValue* value);
// The values of a list attribute from `index`, at most `maxValues` of them.
AXError AXUIElementCopyAttributeValues(const AXUIElementRef& element, std::string_view attribute, long index,
                                       long maxValues, std::vector<AXUIElementRef>* values);
AXError AXUIElementSetAttributeValue(const AXUIElementRef& element, std::string_view attribute,
                                     const AXAttributeValue& value);
AXError AXUIElementPerformAction(const AXUIElementRef& element, std::string_view action);
AXError AXUIElementGetPid(const AXUIElementRef& element, pid_t* pid);
// The window number of a window element (a private call of the platform).
AXError _AXUIElementGetWindow(const AXUIElementRef& element, CGWindowID* window);
