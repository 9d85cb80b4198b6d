#pragma once
// The backing layer of a layer-backed view: the look properties the system sets on it.
#include <optional>

#include "platform/appkit/NSColor.h"

class CALayer {
  public:
    const std::optional<NSColor>& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(std::optional<NSColor> color) { backgroundColor_ = color; }
    const std::optional<NSColor>& borderColor() const { return borderColor_; }
    void setBorderColor(std::optional<NSColor> color) { borderColor_ = color; }
    CGFloat borderWidth() const { return borderWidth_; }
    void setBorderWidth(CGFloat width) { borderWidth_ = width; }
    CGFloat cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(CGFloat radius) { cornerRadius_ = radius; }
    float opacity() const { return opacity_; }
    void setOpacity(float opacity) { opacity_ = opacity; }
    CGFloat zPosition() const { return zPosition_; }
    void setZPosition(CGFloat z) { zPosition_ = z; }
    bool masksToBounds() const { return masksToBounds_; }
    void setMasksToBounds(bool masks) { masksToBounds_ = masks; }

  private:
    std::optional<NSColor> backgroundColor_;
    std::optional<NSColor> borderColor_;
    CGFloat borderWidth_ = 0;
    CGFloat cornerRadius_ = 0;
    float opacity_ = 1.0f;
    CGFloat zPosition_ = 0;
    bool masksToBounds_ = false;
};
