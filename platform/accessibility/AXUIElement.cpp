
#include "platform/accessibility/AXUIElement.h"

#include "platform/accessibility/AccessibilityBackend.h"
#include "platform/windowserver/X11Desktop.h"

namespace {
AccessibilityBackend& backend() {
    return AccessibilityBackend::current();
}

// The window behind a window element, when it still exists and belongs to the element's process.
std::optional<AXWindowState> windowOf(const AXUIElement& element) {
    auto window = backend().window(element.window);
    if (!window || window->owner != element.pid) return std::nullopt;
    return window;
}

AXError checkElement(const AXUIElementRef& element) {
    if (!element) return kAXErrorIllegalArgument;
    if (!backend().trusted()) return kAXErrorAPIDisabled;
    if (!backend().hasApplication(element->pid)) return kAXErrorCannotComplete;
    if (element->window != 0 && !windowOf(*element)) return kAXErrorInvalidUIElement;
    return kAXErrorSuccess;
}

std::vector<AXUIElementRef> windowElements(pid_t pid) {
    std::vector<AXUIElementRef> out;
    for (auto number : backend().windowsOfApplication(pid))
        out.push_back(std::make_shared<const AXUIElement>(AXUIElement{pid, number}));
    return out;
}
}  // namespace

AccessibilityBackend& AccessibilityBackend::current() {
    return X11Desktop::current() ? x11Accessibility() : simulatedAccessibility();
}

AXValue AXValueCreate(const CGPoint& point) {
    return {kAXValueCGPointType, point.x, point.y};
}
AXValue AXValueCreate(const CGSize& size) {
    return {kAXValueCGSizeType, size.width, size.height};
}

bool AXValueGetValue(const AXValue& value, CGPoint* point) {
    if (value.type != kAXValueCGPointType || !point) return false;
    *point = {value.first, value.second};
    return true;
}

bool AXValueGetValue(const AXValue& value, CGSize* size) {
    if (value.type != kAXValueCGSizeType || !size) return false;
    *size = {value.first, value.second};
    return true;
}

bool AXIsProcessTrusted() {
    return backend().trusted();
}

bool AXIsProcessTrustedWithOptions(const Dictionary* options) {
    bool trusted = backend().trusted();
    const Value* prompt = options ? options->find(kAXTrustedCheckOptionPrompt) : nullptr;
    if (!trusted && prompt && prompt->boolOr(false)) backend().promptForTrust();
    return trusted;
}

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
    return std::make_shared<const AXUIElement>(AXUIElement{pid, 0});
}

AXError AXUIElementCopyAttributeValue(const AXUIElementRef& element, std::string_view attribute,
                                      AXAttributeValue* value) {
    if (!value) return kAXErrorIllegalArgument;
    if (AXError error = checkElement(element)) return error;
    if (element->window == 0) {
        if (attribute == kAXWindowsAttribute) {
            *value = windowElements(element->pid);
        } else if (attribute == kAXFrontmostAttribute) {
            *value = backend().frontmostApplication() == element->pid;
        } else {
            return kAXErrorAttributeUnsupported;
        }
        return kAXErrorSuccess;
    }
    auto window = windowOf(*element);
    if (attribute == kAXPositionAttribute) {
        *value = AXValueCreate(window->frame.origin);
    } else if (attribute == kAXSizeAttribute) {
        *value = AXValueCreate(window->frame.size);
    } else if (attribute == kAXMinimizedAttribute) {
        *value = window->minimized;
    } else {
        return kAXErrorAttributeUnsupported;
    }
    return kAXErrorSuccess;
}

AXError AXUIElementCopyAttributeValues(const AXUIElementRef& element, std::string_view attribute, long index,
                                       long maxValues, std::vector<AXUIElementRef>* values) {
    if (!values || index < 0 || maxValues < 0) return kAXErrorIllegalArgument;
    AXAttributeValue whole;
    if (AXError error = AXUIElementCopyAttributeValue(element, attribute, &whole)) return error;
    auto* list = std::get_if<std::vector<AXUIElementRef>>(&whole);
    if (!list) return kAXErrorIllegalArgument;
    values->clear();
    for (long i = index; i < static_cast<long>(list->size()) && i - index < maxValues; ++i)
        values->push_back((*list)[static_cast<size_t>(i)]);
    return kAXErrorSuccess;
}

AXError AXUIElementSetAttributeValue(const AXUIElementRef& element, std::string_view attribute,
                                     const AXAttributeValue& value) {
    if (AXError error = checkElement(element)) return error;
    if (element->window == 0) return kAXErrorAttributeUnsupported;
    auto* axValue = std::get_if<AXValue>(&value);
    CGPoint point;
    CGSize size;
    if (attribute == kAXPositionAttribute) {
        if (!axValue || !AXValueGetValue(*axValue, &point)) return kAXErrorIllegalArgument;
        backend().setPosition(*element, point);
    } else if (attribute == kAXSizeAttribute) {
        if (!axValue || !AXValueGetValue(*axValue, &size)) return kAXErrorIllegalArgument;
        backend().setSize(*element, size);
    } else {
        return kAXErrorAttributeUnsupported;
    }
    return kAXErrorSuccess;
}

AXError AXUIElementPerformAction(const AXUIElementRef& element, std::string_view action) {
    if (AXError error = checkElement(element)) return error;
    if (element->window == 0 || action != kAXRaiseAction) return kAXErrorActionUnsupported;
    backend().raise(*element);
    return kAXErrorSuccess;
}

AXError AXUIElementGetPid(const AXUIElementRef& element, pid_t* pid) {
    if (!pid) return kAXErrorIllegalArgument;
    if (AXError error = checkElement(element)) return error;
    *pid = element->pid;
    return kAXErrorSuccess;
}

AXError _AXUIElementGetWindow(const AXUIElementRef& element, CGWindowID* window) {
    if (!window) return kAXErrorIllegalArgument;
    if (AXError error = checkElement(element)) return error;
    if (element->window == 0) return kAXErrorIllegalArgument;
    *window = element->window;
    return kAXErrorSuccess;
}
