
#include "platform/accessibility/AXUIElement.h"
#include "platform/windowserver/SimulatedDesktop.h"

namespace {
SimulatedDesktop& desktop() {
    return SimulatedDesktop::shared();
}

// The window behind a window element, when it still exists and belongs to the element's process.
std::optional<SimulatedWindow> windowOf(const AXUIElement& element) {
    auto window = desktop().window(element.window);
    if (!window || window->ownerPid != element.pid) return std::nullopt;
    return window;
}

AXError checkElement(const AXUIElementRef& element) {
    if (!element) return kAXErrorIllegalArgument;
    if (!desktop().trusted()) return kAXErrorAPIDisabled;
    if (!desktop().hasApplication(element->pid)) return kAXErrorCannotComplete;
    if (element->window != 0 && !windowOf(*element)) return kAXErrorInvalidUIElement;
    return kAXErrorSuccess;
}

std::vector<AXUIElementRef> windowElements(pid_t pid) {
    std::vector<AXUIElementRef> out;
    for (auto number : desktop().windowsOfApplication(pid))
        out.push_back(std::make_shared<const AXUIElement>(AXUIElement{pid, number}));
    return out;
}

void record(const AXUIElement& element, std::string function, std::string name, CGFloat first = 0,
            CGFloat second = 0) {
    SimulatedCall call;
    call.function = std::move(function);
    call.pid = element.pid;
    call.window = element.window;
    call.name = std::move(name);
    call.first = first;
    call.second = second;
    desktop().recordCall(std::move(call));
}
}  // namespace

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
    return desktop().trusted();
}

bool AXIsProcessTrustedWithOptions(const Dictionary* options) {
    bool trusted = desktop().trusted();
    const Value* prompt = options ? options->find(kAXTrustedCheckOptionPrompt) : nullptr;
    if (!trusted && prompt && prompt->boolOr(false)) desktop().noteTrustPrompt();
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
            *value = desktop().frontmostApplication() == element->pid;
        } else {
            return kAXErrorAttributeUnsupported;
        }
        return kAXErrorSuccess;
    }
    auto window = windowOf(*element);
    if (attribute == kAXPositionAttribute) {
        *value = AXValueCreate(window->bounds.origin);
    } else if (attribute == kAXSizeAttribute) {
        *value = AXValueCreate(window->bounds.size);
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
        record(*element, "AXUIElementSetAttributeValue", std::string(attribute), point.x, point.y);
        desktop().setWindowPosition(element->window, point);
    } else if (attribute == kAXSizeAttribute) {
        if (!axValue || !AXValueGetValue(*axValue, &size)) return kAXErrorIllegalArgument;
        record(*element, "AXUIElementSetAttributeValue", std::string(attribute), size.width, size.height);
        desktop().setWindowSize(element->window, size);
    } else {
        return kAXErrorAttributeUnsupported;
    }
    return kAXErrorSuccess;
}

AXError AXUIElementPerformAction(const AXUIElementRef& element, std::string_view action) {
    if (AXError error = checkElement(element)) return error;
    if (element->window == 0 || action != kAXRaiseAction) return kAXErrorActionUnsupported;
    record(*element, "AXUIElementPerformAction", std::string(action));
    desktop().raiseWindow(element->window);
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
