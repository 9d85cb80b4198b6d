#include "platform/foundation/NSUserActivity.h"

#include "platform/foundation/Runtime.h"
#include "platform/foundation/RuntimeObject.h"

namespace {
class UserActivityClass : public RuntimeObject {
  public:
    std::string className() const override { return "NSUserActivity"; }
    bool respondsToSelector(std::string_view selector) const override {
        return selector == "instancesRespondToSelector:";
    }
    Value perform(std::string_view) const override { return Value(); }
    Value performWithObject(std::string_view selector, const Value& argument) const override {
        if (selector != "instancesRespondToSelector:") return Value();
        const std::string name = argument.stringOr("");
        return Value(name == "activityType" || name == "webpageURL");
    }
};

const bool classRegistered = [] {
    Runtime::registerClass("NSUserActivity", NSUserActivity::classObject());
    return true;
}();
}  // namespace

NSUserActivity::NSUserActivity(std::string activityType, std::shared_ptr<const URL> webpageURL)
    : activityType_(std::move(activityType)), webpageURL_(std::move(webpageURL)) {}

std::string NSUserActivity::description() const {
    return "<NSUserActivity " + activityType_ + (webpageURL_ ? " " + webpageURL_->absoluteString() : "") +
           ">";
}

std::shared_ptr<const RuntimeObject> NSUserActivity::classObject() {
    // Never destroyed: code looks the class up during exit too.
    static const auto* classObject =
        new std::shared_ptr<const RuntimeObject>(std::make_shared<const UserActivityClass>());
    return *classObject;
}
