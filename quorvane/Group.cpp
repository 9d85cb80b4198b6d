#include "quorvane/Group.h"

#include <charconv>

namespace {
constexpr const char* kNameKey = "name";
constexpr const char* kCoordinatesKey = "coordinates";
constexpr const char* kShortcutKey = "shortcut";
constexpr const char* kSizeKey = "size";

bool secureCodingSupported = true;
}  // namespace

std::optional<SpaceSize> readSpaceSize(std::string_view size) {
    if (size == kLooseSize) return SpaceSize{};
    bool plus = !size.empty() && size.front() == '+';
    if (plus) size.remove_prefix(1);
    if (size.empty() || (plus && size.front() == '-')) return std::nullopt;
    int64_t points = 0;
    auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), points);
    if (error != std::errc() || end != size.data() + size.size()) return std::nullopt;
    return SpaceSize{static_cast<CGFloat>(points)};
}

ArchiveClass Group::archiveClass() {
    return {kClassName, [] { return CodablePtr(new Group(Decoding{})); }};
}

bool Group::classSupportsSecureCoding() {
    return secureCodingSupported;
}
void Group::setSupportsSecureCoding(bool supports) {
    secureCodingSupported = supports;
}

Group::Group(std::string name, std::shared_ptr<MASShortcut> shortcut, Coordinates coordinates)
    : name_(std::move(name)), coordinates_(coordinates), shortcut_(std::move(shortcut)) {}

void Group::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeObject(Archived(name_), kNameKey);
    coder.encodeObject(Archived(Value(Value::Array(coordinates_.begin(), coordinates_.end()))),
                       kCoordinatesKey);
    if (shortcut_) coder.encodeObject(Archived(shortcut_), kShortcutKey);
    coder.encodeObject(Archived(size_), kSizeKey);
}

bool Group::initWithCoder(KeyedUnarchiver& coder) {
    auto name = coder.decodeString(kNameKey);
    auto coordinates = coder.decodeObject(kCoordinatesKey).toValue();
    auto size = coder.decodeString(kSizeKey);
    const Value::Array* numbers = coordinates ? coordinates->asArray() : nullptr;
    if (!name || !numbers || numbers->size() != coordinates_.size() || !size || !readSpaceSize(*size)) {
        coder.failWithError(
            Error(kFoundationErrorDomain, kCoderReadCorruptError, "The space is not complete."));
        return false;
    }
    for (size_t i = 0; i < coordinates_.size(); ++i) {
        auto number = (*numbers)[i].asReal();
        if (!number || (*numbers)[i].isBool()) {
            coder.failWithError(
                Error(kFoundationErrorDomain, kCoderReadCorruptError, "A coordinate is no number."));
            return false;
        }
        coordinates_[i] = *number;
    }
    name_ = std::move(*name);
    size_ = std::move(*size);
    shortcut_ = coder.decodeObjectOfClass<MASShortcut>(kShortcutKey);
    return true;
}
