#pragma once
// The optional on-device conversion component, as the engine sees it. The component is never linked:
// it registers its class object under kClassName, and the engine makes its clients through it. One
// client answers for one e-mail address or phone number: it builds the request URL, and it reads
// whether the answer is a match.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Data.h"
#include "platform/foundation/RuntimeObject.h"

class ZDMPrivateSetMembershipClient {
  public:
    static constexpr int64_t kInputTypePhoneNumber = 2;

    virtual ~ZDMPrivateSetMembershipClient() = default;
    // nullopt when no URL can be made.
    virtual std::optional<std::string> PSMRequestURLWithRetryCount(int32_t retryCount) const = 0;
    // kInputTypePhoneNumber for a phone number; anything else is an e-mail address.
    virtual int64_t inputType() const = 0;
    // The matched value; empty or nullopt when the answer is no match.
    virtual std::optional<std::string> parsedPSMValueFromResponse(const Data& response) const = 0;
    // A key the server honours only for debug builds; none by default.
    virtual std::optional<std::string> debugKey() const { return std::nullopt; }
};

// The class object the component registers.
class ZDMPrivateSetMembershipClientClass : public RuntimeObject {
  public:
    static constexpr const char* kClassName = "ZDMPrivateSetMembershipClient";

    // nullptr when the component cannot make a client for the value.
    virtual std::shared_ptr<ZDMPrivateSetMembershipClient> initWithEmailAddress(
        const std::string& emailAddress, const std::string& appID) const = 0;
    virtual std::shared_ptr<ZDMPrivateSetMembershipClient> initWithPhoneNumber(
        const std::string& phoneNumber, const std::string& appID) const = 0;

    std::string className() const override { return kClassName; }
    bool respondsToSelector(std::string_view /*selector*/) const override { return false; }
    Value perform(std::string_view /*selector*/) const override { return Value(); }
};
