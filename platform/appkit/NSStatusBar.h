#pragma once
// The system status bar and its items: each item shows a button with an image and opens its menu
// when clicked.
#include <memory>
#include <vector>

#include "platform/appkit/NSButton.h"
#include "platform/appkit/NSMenu.h"

inline constexpr CGFloat NSVariableStatusItemLength = -1.0;
inline constexpr CGFloat NSSquareStatusItemLength = -2.0;

class NSStatusItem {
  public:
    explicit NSStatusItem(CGFloat length) : length_(length) {}

    CGFloat length() const { return length_; }
    const std::shared_ptr<NSMenu>& menu() const { return menu_; }
    void setMenu(std::shared_ptr<NSMenu> menu) { menu_ = std::move(menu); }
    const std::shared_ptr<NSButton>& button() const { return button_; }
    bool isVisible() const { return visible_; }
    void setVisible(bool visible) { visible_ = visible; }

  private:
    CGFloat length_;
    std::shared_ptr<NSMenu> menu_;
    std::shared_ptr<NSButton> button_ = std::make_shared<NSButton>();
    bool visible_ = true;
};

class NSStatusBar {
  public:
    static std::shared_ptr<NSStatusBar> systemStatusBar();

    std::shared_ptr<NSStatusItem> statusItemWithLength(CGFloat length);
    void removeStatusItem(const std::shared_ptr<NSStatusItem>& item);
    // The items still held by their owners, in creation order.
    std::vector<std::shared_ptr<NSStatusItem>> statusItems() const;

  private:
    std::vector<std::weak_ptr<NSStatusItem>> items_;
};
