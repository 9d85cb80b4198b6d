#include "quorvane/ShortcutView.h"

#include "platform/appkit/NSGraphicsContext.h"
#include "platform/appkit/NSWindow.h"
#include "quorvane/Extensions.h"

std::shared_ptr<ShortcutView> ShortcutView::make(CGRect frame) {
    std::shared_ptr<ShortcutView> view(new ShortcutView(frame));
    view->wireClearButton();
    return view;
}

ShortcutView::ShortcutView(CGRect frame)
    : MASShortcutView(frame),
      textAttributes_{NSFont::systemFontOfSize(12, NSFontWeightMedium), NSColor::colorWithWhite(0, 0.5)},
      clearButton_(std::make_shared<NSButton>(CGRect{0, 0, 15, 15})) {
    clearButton_->setTitle("✕");
    clearButton_->setBordered(false);
    clearButton_->setBezelStyle(NSBezelStyle::RegularSquare);
    clearButton_->setTranslatesAutoresizingMaskIntoConstraints(false);
    clearButton_->setFont(NSFont::systemFontOfSize(11));
    clearButton_->setAttributedTitle("✕", {NSFont::systemFontOfSize(11), NSColor::grayColor()});
    clearButton_->setBackgroundStyle(NSBackgroundStyle::Normal);
    setWantsLayer(true);
    registerAction("clearButtonClicked", [this](NSObject*) { clearButtonClicked(); });

    // Attached once; every draw only decides whether it shows.
    addSubview(clearButton_);
    clearButton_->setAction("clearButtonClicked");
    NSLayoutConstraint::activateConstraints({
        clearButton_->centerYAnchor().constraintEqualToAnchor(centerYAnchor(), 0),
        clearButton_->rightAnchor().constraintEqualToAnchor(rightAnchor(), -5),
    });
    updateClearButton();
}

void ShortcutView::wireClearButton() {
    clearButton_->setTarget(sharedAs<NSObject>());
}

void ShortcutView::updateClearButton() {
    const auto& value = shortcutValue();
    clearButton_->setHidden(!value || value->description().empty());
}

void ShortcutView::drawRect(const CGRect& dirty) {
    updateClearButton();
    NSColor::clearColor().set();
    layer()->setBorderColor(hexColor("#D4D4D4", 1.0));
    layer()->setBackgroundColor(NSColor::whiteColor());
    layer()->setBorderWidth(1.5);
    layer()->setCornerRadius(6.4);
    auto* context = NSGraphicsContext::currentContext();
    NSRectFillUsingOperation(dirty,
                             context ? context->compositingOperation() : NSCompositingOperation::SourceOver);

    std::string text = shortcutValue() ? shortcutValue()->description() : placeholder_;
    CGSize size = NSStringSize(text, textAttributes_);
    CGRect rect{(dirty.size.width - size.width) / 2, (dirty.size.height - size.height) / 2, dirty.size.width,
                dirty.size.height};
    NSStringDraw(text, rect, NSStringDrawingUsesLineFragmentOrigin, textAttributes_);
}

void ShortcutView::drawFocusRingMask() {
    auto* context = NSGraphicsContext::currentContext();
    if (context) context->saveGraphicsState();
    NSColor::redColor().set();
    NSBezierPath::bezierPathWithRoundedRect(CGRectInset(bounds(), 2, 2), 3.2, 3.2).fill();
    if (context) context->restoreGraphicsState();
}

void ShortcutView::mouseDown(const NSEvent& event) {
    MASShortcutView::mouseDown(event);
    if (isRecording()) placeholder_ = kRecordingPlaceholder;
}

void ShortcutView::clearButtonClicked() {
    setShortcutValue(nullptr);
    clearButton_->setHidden(true);
    if (NSWindow* w = window()) w->makeFirstResponder(nullptr);
}
