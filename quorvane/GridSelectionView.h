#pragma once
// The grid mode of the create-space overlay: a 10 × 10 grid over the overlay window. Dragging
// fills the cells the dragged rectangle touches; releasing hands the bounding box of those cells,
// in global top-left display coordinates, to the handler.
#include <functional>
#include <vector>

#include "platform/appkit/NSView.h"

class GridSelectionView : public NSView {
  public:
    using Handler = std::function<void(CGFloat x1, CGFloat y1, CGFloat x2, CGFloat y2)>;
    struct Rectangle {
        CGFloat x1, y1, x2, y2;
        bool operator==(const Rectangle&) const = default;
    };

    explicit GridSelectionView(CGRect frame = {});

    void setOnCreateHandler(Handler handler) { onCreateHandler_ = std::move(handler); }
    static constexpr int numCols = 10;
    static constexpr int numRows = 10;
    CGPoint startPointView() const { return startPointView_; }
    CGPoint endPointView() const { return endPointView_; }
    CGPoint cgStartPoint() const { return cgStartPoint_; }
    CGPoint cgEndPoint() const { return cgEndPoint_; }
    const std::vector<CGRect>& selectedCells() const { return selectedCells_; }

    // The selected cells' bounding box on the screen of the view's window. Stops the process with
    // "Main screen not available" when the view is in no window or the window on no screen.
    Rectangle selectionRectangle() const;

    void mouseDown(const NSEvent& event) override;
    void mouseDragged(const NSEvent& event) override;
    void mouseUp(const NSEvent& event) override;
    void drawRect(const CGRect& dirtyRect) override;

  private:
    CGRect selection() const;

    Handler onCreateHandler_;
    CGPoint startPointView_, endPointView_;
    CGPoint cgStartPoint_, cgEndPoint_;
    std::vector<CGRect> selectedCells_;
};
