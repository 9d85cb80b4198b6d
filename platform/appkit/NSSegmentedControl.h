#pragma once
// A row of segments with labels, widths and tags; choosing a segment selects it and sends the
// control's action.
#include <string>
#include <vector>

#include "platform/appkit/NSControl.h"

enum class NSSegmentStyle {
    Automatic = 0,
    Rounded = 1,
    TexturedRounded = 2,
    RoundRect = 3,
    TexturedSquare = 4,
    Capsule = 5,
    SmallSquare = 6,
    Separated = 8
};
enum class NSSegmentSwitchTracking { SelectOne = 0, SelectAny = 1, Momentary = 2 };

class NSSegmentedControl : public NSControl {
  public:
    explicit NSSegmentedControl(CGRect frame = {}) : NSControl(frame) {}
    // One segment per label, in order.
    static std::shared_ptr<NSSegmentedControl> segmentedControlWithLabels(
        const std::vector<std::string>& labels, NSSegmentSwitchTracking trackingMode,
        const std::shared_ptr<NSObject>& target, std::string action);

    int segmentCount() const { return static_cast<int>(segments_.size()); }
    void setSegmentCount(int count);
    NSSegmentStyle segmentStyle() const { return style_; }
    void setSegmentStyle(NSSegmentStyle style) { style_ = style; }
    NSSegmentSwitchTracking trackingMode() const { return tracking_; }
    void setTrackingMode(NSSegmentSwitchTracking mode) { tracking_ = mode; }
    NSControlSize controlSize() const { return controlSize_; }
    void setControlSize(NSControlSize size) { controlSize_ = size; }

    // Out-of-range segments read as empty and ignore writes.
    std::string labelForSegment(int segment) const;
    void setLabel(std::string label, int segment);
    CGFloat widthForSegment(int segment) const;
    void setWidth(CGFloat width, int segment);
    int tagForSegment(int segment) const;
    void setTag(int tag, int segment);

    int selectedSegment() const { return selected_; }
    void setSelectedSegment(int segment);
    // With one segment selectable at a time, selecting a segment deselects the others.
    bool isSelectedForSegment(int segment) const { return valid(segment) && selected_ == segment; }
    void setSelected(bool selected, int segment);
    // What a click on a segment does.
    void clickSegment(int segment);

  private:
    struct Segment {
        std::string label;
        CGFloat width = 0;
        int tag = 0;
    };
    bool valid(int segment) const { return segment >= 0 && segment < segmentCount(); }
    std::vector<Segment> segments_;
    NSSegmentStyle style_ = NSSegmentStyle::Automatic;
    NSSegmentSwitchTracking tracking_ = NSSegmentSwitchTracking::SelectOne;
    NSControlSize controlSize_ = NSControlSize::Regular;
    int selected_ = -1;
};
