#include "platform/network/URLSession.h"

#include <strings.h>

std::optional<std::string> HTTPURLResponse::valueForHTTPHeaderField(std::string_view field) const {
    for (const auto& [name, value] : allHeaderFields) {
        if (name.size() == field.size() && strncasecmp(name.data(), field.data(), field.size()) == 0)
            return value;
    }
    return std::nullopt;
}
