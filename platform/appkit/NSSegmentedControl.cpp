#include "platform/appkit/NSSegmentedControl.h"

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

void NSSegmentedControl::clickSegment(int s) {
    if (!isEnabled() || !valid(s)) return;
    setSelectedSegment(s);
    sendAction();
}
