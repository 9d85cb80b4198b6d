#include "quorvane/Workspace.h"

#include "platform/windowserver/CGGeometry.h"

namespace {
constexpr const char* kScreensKey = "screens";
constexpr const char* kGroupsKey = "groups";

bool secureCodingSupported = true;

// A rectangle is kept as its four numbers x, y, width, height.
Value rectValue(const CGRect& r) {
    return Value::Array{r.origin.x, r.origin.y, r.size.width, r.size.height};
}

std::optional<CGRect> rectFromValue(const Value& value) {
    auto* numbers = value.asArray();
    if (!numbers || numbers->size() != 4) return std::nullopt;
    CGFloat n[4];
    for (size_t i = 0; i < 4; ++i) {
        auto real = (*numbers)[i].asReal();
        if (!real || (*numbers)[i].isBool()) return std::nullopt;
        n[i] = *real;
    }
    return CGRect{n[0], n[1], n[2], n[3]};
}
}  // namespace

ArchiveClass Workspace::archiveClass() {
    return {kClassName, [] { return CodablePtr(new Workspace(Decoding{})); }};
}

bool Workspace::classSupportsSecureCoding() {
    return secureCodingSupported;
}
void Workspace::setSupportsSecureCoding(bool supports) {
    secureCodingSupported = supports;
}

Workspace::Workspace(std::vector<CGRect> screens) : screens_(std::move(screens)) {}

bool Workspace::matches(const std::vector<CGRect>& screenFrames) const {
    if (screens_.size() != screenFrames.size()) return false;
    for (size_t i = 0; i < screens_.size(); ++i)
        if (!CGRectEqualToRect(screens_[i], screenFrames[i])) return false;
    return true;
}

void Workspace::encodeWithCoder(KeyedArchiver& coder) const {
    Value::Array screens;
    for (const auto& frame : screens_) screens.push_back(rectValue(frame));
    coder.encodeObject(Archived(Value(std::move(screens))), kScreensKey);
    coder.encodeObject(Archived(groups_), kGroupsKey);
}

bool Workspace::initWithCoder(KeyedUnarchiver& coder) {
    auto screens = coder.decodeObject(kScreensKey).toValue();
    const Value::Array* list = screens ? screens->asArray() : nullptr;
    if (!list) {
        coder.failWithError(
            Error(kFoundationErrorDomain, kCoderReadCorruptError, "The workspace has no screens."));
        return false;
    }
    for (const auto& item : *list) {
        auto frame = rectFromValue(item);
        if (!frame) {
            coder.failWithError(
                Error(kFoundationErrorDomain, kCoderReadCorruptError, "A screen frame is malformed."));
            return false;
        }
        screens_.push_back(*frame);
    }
    groups_ = coder.decodeObject(kGroupsKey).arrayOf<Group>().value_or(std::vector<std::shared_ptr<Group>>{});
    return true;
}
