#include "quorvane/InfoButton.h"

#include "platform/appkit/NSTextField.h"

InfoButton::InfoButton(std::string infoText)
    : infoPopover_(std::make_shared<NSPopover>()), infoText_(std::move(infoText)) {
    auto image = NSImage::imageNamed("info");
    if (image) image->setSize({16, 16});
    setImage(image);
    setImagePosition(NSCellImagePosition::ImageOnly);
    setTitle("");
    setBezelStyle(NSBezelStyle::RegularSquare);
    setBordered(false);
}

bool InfoButton::sendAction() {
    showInfoPopover();
    return true;
}

void InfoButton::showInfoPopover() {
    if (infoPopover_->isShown()) {
        infoPopover_->close();
        return;
    }
    auto controller = std::make_shared<NSViewController>();
    auto view = std::make_shared<NSView>(CGRect{0, 0, 200, 80});
    view->setWantsLayer(true);
    view->layer()->setBackgroundColor(NSColor::clearColor());
    auto text = std::make_shared<NSTextField>(CGRect{10, 10, 180, 60});
    text->setStringValue(infoText_);
    text->setFont(NSFont::systemFontOfSize(11));
    text->setBordered(false);
    text->setBezeled(false);
    text->setEditable(false);
    text->setSelectable(false);
    text->setBackgroundColor(NSColor::clearColor());
    view->addSubview(text);
    controller->setView(view);
    infoPopover_->setContentViewController(controller);
    infoPopover_->showRelativeToRect(bounds(), this, NSRectEdge::MaxY);
}
