#pragma once
// A scroll view: its clip view fills it and holds the document view, which keeps its own height
// and takes the clip view's width.
#include <memory>

#include "platform/appkit/NSView.h"

class NSClipView : public NSView {
  public:
    using NSView::NSView;
    bool isFlipped() const override { return true; }
};

class NSScrollView : public NSView {
  public:
    explicit NSScrollView(CGRect frame = {});

    const std::shared_ptr<NSClipView>& contentView() const { return contentView_; }
    const std::shared_ptr<NSView>& documentView() const { return documentView_; }
    void setDocumentView(std::shared_ptr<NSView> view);
    const NSEdgeInsets& scrollerInsets() const { return scrollerInsets_; }
    void setScrollerInsets(const NSEdgeInsets& insets) { scrollerInsets_ = insets; }

    void layout() override;

  private:
    std::shared_ptr<NSClipView> contentView_;
    std::shared_ptr<NSView> documentView_;
    NSEdgeInsets scrollerInsets_;
};
