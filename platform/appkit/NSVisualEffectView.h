#pragma once
// A view with the translucent material of the platform behind its content.
#include "platform/appkit/NSView.h"

enum class NSVisualEffectBlendingMode { BehindWindow = 0, WithinWindow = 1 };
enum class NSVisualEffectMaterial { AppearanceBased = 0, Light = 1, Dark = 2, Titlebar = 3 };
enum class NSVisualEffectState { FollowsWindowActiveState = 0, Active = 1, Inactive = 2 };

class NSVisualEffectView : public NSView {
  public:
    using NSView::NSView;

    NSVisualEffectBlendingMode blendingMode() const { return blendingMode_; }
    void setBlendingMode(NSVisualEffectBlendingMode mode) { blendingMode_ = mode; }
    NSVisualEffectMaterial material() const { return material_; }
    void setMaterial(NSVisualEffectMaterial material) { material_ = material; }
    NSVisualEffectState state() const { return state_; }
    void setState(NSVisualEffectState state) { state_ = state; }

  private:
    NSVisualEffectBlendingMode blendingMode_ = NSVisualEffectBlendingMode::WithinWindow;
    NSVisualEffectMaterial material_ = NSVisualEffectMaterial::AppearanceBased;
    NSVisualEffectState state_ = NSVisualEffectState::FollowsWindowActiveState;
};
