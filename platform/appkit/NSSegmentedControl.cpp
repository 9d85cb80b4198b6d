#include "platform/appkit/NSSegmentedControl.h"

std::shared_ptr<NSSegmentedControl> NSSegmentedControl::segmentedControlWithLabels(
    const std::vector<std::string>& labels, NSSegmentSwitchTracking trackingMode,
    const std::shared_ptr<NSObject>& target, std::string action) {
    auto control = std::make_shared<NSSegmentedControl>();
    control->setSegmentCount(static_cast<int>(labels.size()));
    for (size_t i = 0; i < labels.size(); ++i) control->setLabel(labels[i], static_cast<int>(i));
    control->setTrackingMode(trackingMode);
    control->setTarget(target);
    control->setAction(std::move(action));
    return control;
}

void NSSegmentedControl::setSegmentCount(int count) {
    segments_.resize(static_cast<size_t>(std::max(count, 0)));
    if (!valid(selected_)) selected_ = -1;
}

std::string NSSegmentedControl::labelForSegment(int s) const {
    return valid(s) ? segments_[s].label : "";
}
void NSSegmentedControl::setLabel(std::string label, int s) {
    if (valid(s)) segments_[s].label = std::move(label);
}
CGFloat NSSegmentedControl::widthForSegment(int s) const {
    return valid(s) ? segments_[s].width : 0;
}
void NSSegmentedControl::setWidth(CGFloat width, int s) {
    if (valid(s)) segments_[s].width = width;
}
int NSSegmentedControl::tagForSegment(int s) const {
    return valid(s) ? segments_[s].tag : 0;
}
void NSSegmentedControl::setTag(int tag, int s) {
    if (valid(s)) segments_[s].tag = tag;
}

void NSSegmentedControl::setSelectedSegment(int s) {
    selected_ = valid(s) ? s : -1;
}

void NSSegmentedControl::setSelected(bool selected, int s) {
    if (!valid(s)) return;
    if (selected)
        selected_ = s;
    else if (selected_ == s)
        selected_ = -1;
}

void NSSegmentedControl::clickSegment(int s) {
    if (!isEnabled() || !valid(s)) return;
    setSelectedSegment(s);
    sendAction();
}
