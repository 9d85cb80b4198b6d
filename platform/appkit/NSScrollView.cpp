#include "platform/appkit/NSScrollView.h"

NSScrollView::NSScrollView(CGRect frame)
    : NSView(frame), contentView_(std::make_shared<NSClipView>(bounds())) {
    addSubview(contentView_);
}

void NSScrollView::setDocumentView(std::shared_ptr<NSView> view) {
    if (documentView_) documentView_->removeFromSuperview();
    documentView_ = std::move(view);
    if (documentView_) contentView_->addSubview(documentView_);
}

void NSScrollView::layout() {
    contentView_->setFrame(bounds());
    if (documentView_) documentView_->setFrameSize({bounds().width(), documentView_->frame().size.height});
    NSView::layout();
}
