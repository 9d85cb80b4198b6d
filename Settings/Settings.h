#pragma once
// The settings-window package's value types: pane identifiers and the two tab styles.
#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

namespace Settings {

// Names a pane; equal when the strings are equal. Coded as the bare string.
struct PaneIdentifier {
    std::string rawValue;

    explicit PaneIdentifier(std::string rawValue) : rawValue(std::move(rawValue)) {}
    bool operator==(const PaneIdentifier&) const = default;

    Value encode() const { return Value(rawValue); }
    static std::optional<PaneIdentifier> decode(const Value& value) {
        if (const std::string* s = value.asString()) return PaneIdentifier(*s);
        return std::nullopt;
    }
};

// toolbarItems: one toolbar button per pane; segmentedControl: one centred segmented control.
enum class Style { toolbarItems = 0, segmentedControl = 1 };

}  // namespace Settings

template <>
struct std::hash<Settings::PaneIdentifier> {
    size_t operator()(const Settings::PaneIdentifier& id) const noexcept {
        return std::hash<std::string>()(id.rawValue);
    }
};
