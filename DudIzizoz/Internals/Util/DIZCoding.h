#pragma once
// Optional fields in keyed archives: an absent value writes nothing and reads back absent.
#include <optional>
#include <string>

#include "platform/foundation/KeyedArchiver.h"

inline Archived DIZArchived(const std::optional<std::string>& text) {
    return text ? Archived(*text) : Archived();
}
inline Archived DIZArchived(const std::optional<Date>& date) {
    return date ? Archived(Value(*date)) : Archived();
}
