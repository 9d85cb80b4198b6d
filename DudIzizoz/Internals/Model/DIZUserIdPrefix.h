#pragma once
// The prefix that marks what kind of id a Core Schema log's local id is. It lives with the model,
// which writes it into every log, so that the model needs nothing from the user-id context.
#include <optional>
#include <string>

inline constexpr const char* kDIZUserIdPrefix = "c";

// "c:" in front of an id that holds no ":".
inline std::optional<std::string> DIZPrefixedUserId(const std::optional<std::string>& userId) {
    if (!userId || userId->find(':') != std::string::npos) return userId;
    return std::string(kDIZUserIdPrefix) + ":" + *userId;
}
