#pragma once
// A region of a view whose owner hears when the pointer enters and leaves it.
#include <map>
#include <memory>
#include <string>

#include "platform/foundation/Geometry.h"

class NSObject;
class NSResponder;

using NSTrackingAreaOptions = uint32_t;
inline constexpr NSTrackingAreaOptions NSTrackingMouseEnteredAndExited = 0x01;
inline constexpr NSTrackingAreaOptions NSTrackingMouseMoved = 0x02;
inline constexpr NSTrackingAreaOptions NSTrackingCursorUpdate = 0x04;
inline constexpr NSTrackingAreaOptions NSTrackingActiveWhenFirstResponder = 0x10;
inline constexpr NSTrackingAreaOptions NSTrackingActiveInKeyWindow = 0x20;
inline constexpr NSTrackingAreaOptions NSTrackingActiveInActiveApp = 0x40;
inline constexpr NSTrackingAreaOptions NSTrackingActiveAlways = 0x80;
inline constexpr NSTrackingAreaOptions NSTrackingInVisibleRect = 0x200;
// Entries and exits are also reported while a mouse button is held down.
inline constexpr NSTrackingAreaOptions NSTrackingEnabledDuringMouseDrag = 0x400;

class NSTrackingArea {
  public:
    // Objects named in the user info are held weakly: an area often names the view that owns it.
    using UserInfo = std::map<std::string, std::weak_ptr<NSObject>>;

    NSTrackingArea(CGRect rect, NSTrackingAreaOptions options, std::weak_ptr<NSResponder> owner,
                   UserInfo userInfo = {})
        : rect_(rect), options_(options), owner_(std::move(owner)), userInfo_(std::move(userInfo)) {}

    const CGRect& rect() const { return rect_; }
    NSTrackingAreaOptions options() const { return options_; }
    std::shared_ptr<NSResponder> owner() const { return owner_.lock(); }
    const UserInfo& userInfo() const { return userInfo_; }
    std::shared_ptr<NSObject> userInfoObject(const std::string& key) const {
        auto it = userInfo_.find(key);
        return it == userInfo_.end() ? nullptr : it->second.lock();
    }

    // Whether the pointer was inside at the last pointer movement (kept by the window).
    bool pointerInside() const { return inside_; }
    void setPointerInside(bool inside) { inside_ = inside; }

  private:
    CGRect rect_;
    NSTrackingAreaOptions options_;
    std::weak_ptr<NSResponder> owner_;
    UserInfo userInfo_;
    bool inside_ = false;
};
