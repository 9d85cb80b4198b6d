#pragma once
// A space's small map: a 28 × 14 rectangle for the screen with a smaller one inside it for the
// space, scaled from the space's global coordinates. A click on it runs onClick.
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/appkit/NSView.h"

class NSScreen;

class SpaceRectangleView : public NSView {
  public:
    static constexpr CGFloat WIDTH = 28;
    static constexpr CGFloat HEIGHT = 14;

    explicit SpaceRectangleView(CGRect frame = {});

    void setOnClick(std::function<void()> onClick) { onClick_ = std::move(onClick); }
    const std::optional<std::vector<CGFloat>>& coordinates() const { return coordinates_; }
    // Places the space on the screen that holds its top-left corner; with no such screen, or a
    // list that is not four values, no space is drawn.
    void setCoordinates(std::optional<std::vector<CGFloat>> coordinates);
    const std::shared_ptr<NSView>& screenRectangle() const { return screenRectangle_; }
    const std::shared_ptr<NSView>& spaceRectangle() const { return spaceRectangle_; }

    void setDarkHighlight();
    void setBlueHighlight();
    void clearHighlight();

    bool isFlipped() const override { return true; }
    void mouseDown(const NSEvent& event) override;

  private:
    // True when `screen` holds the space's top-left corner and the space was placed on it.
    bool placeSpaceRectangle(const NSScreen& screen, const std::vector<CGFloat>& coordinates);
    void highlight(const NSColor& color);

    std::function<void()> onClick_;
    std::optional<std::vector<CGFloat>> coordinates_;
    std::shared_ptr<NSView> screenRectangle_;
    std::shared_ptr<NSView> spaceRectangle_;
};
