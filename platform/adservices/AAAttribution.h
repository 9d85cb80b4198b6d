#pragma once
// The platform's source of attribution tokens, which an ad network's attribution service turns
// into the campaign an install came from. Code finds the class by name ("AAAttribution"); Linux
// has no such source, so the name is registered only by whoever supplies one (tests do, with a
// token source of their own).
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/RuntimeObject.h"

class AAAttribution : public RuntimeObject {
  public:
    // A token, or nullopt with the reason set.
    using TokenSource = std::function<std::optional<std::string>(Error* error)>;

    static constexpr const char* kClassName = "AAAttribution";

    explicit AAAttribution(TokenSource source) : source_(std::move(source)) {}
    // Registers a class under "AAAttribution" that answers with `source`; unregisterClass takes it away.
    static void registerClass(TokenSource source);
    static void unregisterClass();
    // The registered class; nullptr when there is none.
    static std::shared_ptr<const AAAttribution> registeredClass();

    // nullopt, with `error` set when given, when no token could be made.
    std::optional<std::string> attributionTokenWithError(Error* error) const;

    std::string className() const override { return kClassName; }
    bool respondsToSelector(std::string_view selector) const override {
        return selector == "attributionTokenWithError:";
    }
    // The token as text, null when none could be made.
    Value perform(std::string_view selector) const override;

  private:
    TokenSource source_;
};
