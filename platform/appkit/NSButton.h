#pragma once
// A push button with a title and an optional image. A press and release inside it (or
// performClick) sends its action while it is enabled.
#include <memory>
#include <optional>
#include <string>

#include "platform/appkit/NSControl.h"
#include "platform/appkit/NSImage.h"
#include "platform/appkit/NSStringDrawing.h"

enum class NSButtonType {
    MomentaryLight = 0,
    PushOnPushOff = 1,
    Toggle = 2,
    Switch = 3,
    Radio = 4,
    MomentaryChange = 5,
    OnOff = 6,
    MomentaryPushIn = 7,
};

enum class NSBezelStyle {
    Rounded = 1,
    RegularSquare = 2,
    ShadowlessSquare = 6,
    SmallSquare = 10,
    TexturedSquare = 8,
    Inline = 15,
};

enum class NSCellImagePosition {
    NoImage = 0,
    ImageOnly = 1,
    ImageLeft = 2,
    ImageRight = 3,
    ImageBelow = 4,
    ImageAbove = 5
};

enum class NSBackgroundStyle { Normal = 0, Emphasized = 1, Raised = 2, Lowered = 3 };

class NSButton : public NSControl {
  public:
    explicit NSButton(CGRect frame = {}) : NSControl(frame) {}
    static std::shared_ptr<NSButton> buttonWithTitle(std::string title, std::shared_ptr<NSObject> target,
                                                     std::string action);
    // A check box (switch type, no bezel) with the title beside its box.
    static std::shared_ptr<NSButton> checkboxWithTitle(std::string title, std::shared_ptr<NSObject> target,
                                                       std::string action);

    const std::string& title() const { return title_; }
    void setTitle(std::string title);
    // The title with its own attributes; setting the plain title drops them.
    const std::optional<TextAttributes>& attributedTitleAttributes() const { return titleAttributes_; }
    void setAttributedTitle(std::string title, TextAttributes attributes);
    const std::shared_ptr<NSImage>& image() const { return image_; }
    void setImage(std::shared_ptr<NSImage> image) { image_ = std::move(image); }
    NSCellImagePosition imagePosition() const { return imagePosition_; }
    void setImagePosition(NSCellImagePosition position) { imagePosition_ = position; }
    bool isBordered() const { return bordered_; }
    void setBordered(bool bordered) { bordered_ = bordered; }
    NSBezelStyle bezelStyle() const { return bezelStyle_; }
    void setBezelStyle(NSBezelStyle style) { bezelStyle_ = style; }
    NSButtonType buttonType() const { return buttonType_; }
    void setButtonType(NSButtonType type) { buttonType_ = type; }
    const std::optional<NSColor>& contentTintColor() const { return contentTintColor_; }
    void setContentTintColor(std::optional<NSColor> color) { contentTintColor_ = color; }
    NSBackgroundStyle backgroundStyle() const { return backgroundStyle_; }
    void setBackgroundStyle(NSBackgroundStyle style) { backgroundStyle_ = style; }
    int state() const { return state_; }
    void setState(int state) { state_ = state; }

    void performClick(NSObject* sender = nullptr);

    // Bindings: "value" ties the state to `keyPath` of `object` (held weakly, like a target). The
    // state shows the value at once; a click writes the new state there and then shows what the
    // object holds afterwards. No other binding is offered; asking for one binds nothing.
    void bind(std::string_view binding, const std::shared_ptr<NSObject>& object, std::string keyPath);

    CGSize intrinsicContentSize() const override;
    void mouseDown(const NSEvent& event) override;
    void mouseUp(const NSEvent& event) override;
    void drawRect(const CGRect& dirtyRect) override;

  private:
    bool isCheckable() const;
    // Null when unbound or gone.
    std::shared_ptr<NSObject> valueBindingObject() const { return valueObject_.lock(); }
    void showBoundValue();

    std::string title_ = "Button";
    std::optional<TextAttributes> titleAttributes_;
    std::shared_ptr<NSImage> image_;
    NSCellImagePosition imagePosition_ = NSCellImagePosition::NoImage;
    bool bordered_ = true;
    NSBezelStyle bezelStyle_ = NSBezelStyle::Rounded;
    NSButtonType buttonType_ = NSButtonType::MomentaryPushIn;
    std::optional<NSColor> contentTintColor_;
    NSBackgroundStyle backgroundStyle_ = NSBackgroundStyle::Normal;
    int state_ = 0;
    bool pressed_ = false;
    std::weak_ptr<NSObject> valueObject_;
    std::string valueKeyPath_;
};
