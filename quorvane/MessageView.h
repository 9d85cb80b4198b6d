#pragma once
// The dark box in the middle of an overlay that tells the user what to do.
#include <memory>
#include <optional>
#include <string>

#include "platform/appkit/NSTextField.h"

class MessageView : public NSView {
  public:
    static constexpr CGFloat kWidth = 391;

    explicit MessageView(CGRect frame = {});

    const std::optional<std::string>& title() const { return title_; }
    // Also shows the title (nothing for none) in the label.
    void setTitle(std::optional<std::string> title);
    // The label, made on first use.
    const std::shared_ptr<NSTextField>& text();

    CGSize intrinsicContentSize() const override;

  private:
    std::optional<std::string> title_;
    std::shared_ptr<NSTextField> text_;
    ConstraintPtr textHeight_, height_;
};
