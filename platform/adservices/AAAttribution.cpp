#include "platform/adservices/AAAttribution.h"

#include "platform/foundation/Runtime.h"

void AAAttribution::registerClass(TokenSource source) {
    Runtime::registerClass(kClassName, std::make_shared<const AAAttribution>(std::move(source)));
}

void AAAttribution::unregisterClass() {
    Runtime::unregisterClass(kClassName);
}

std::shared_ptr<const AAAttribution> AAAttribution::registeredClass() {
    return std::dynamic_pointer_cast<const AAAttribution>(Runtime::classNamed(kClassName));
}

std::optional<std::string> AAAttribution::attributionTokenWithError(Error* error) const {
    Error reason;
    auto token = source_ ? source_(&reason) : std::nullopt;
    if (!token && error) *error = std::move(reason);
    return token;
}

Value AAAttribution::perform(std::string_view selector) const {
    if (selector != "attributionTokenWithError:") return Value();
    const auto token = attributionTokenWithError(nullptr);
    return token ? Value(*token) : Value();
}
