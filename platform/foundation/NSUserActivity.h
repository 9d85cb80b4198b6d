#pragma once
// An activity the system hands the application to continue, such as a web page opened on another
// device: its type and, for web browsing, the page's URL. The class registers itself by name, as
// the code that looks it up expects, and its class object answers "instancesRespondToSelector:"
// for the activity's two properties.
#include <memory>
#include <string>

#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"

class RuntimeObject;

inline constexpr const char* NSUserActivityTypeBrowsingWeb = "NSUserActivityTypeBrowsingWeb";

class NSUserActivity : public Object {
  public:
    explicit NSUserActivity(std::string activityType, std::shared_ptr<const URL> webpageURL = nullptr);

    const std::string& activityType() const { return activityType_; }
    // nullptr for an activity that is no web page.
    const std::shared_ptr<const URL>& webpageURL() const { return webpageURL_; }

    std::string className() const override { return "NSUserActivity"; }
    std::string description() const override;

    // What is registered under "NSUserActivity".
    static std::shared_ptr<const RuntimeObject> classObject();

  private:
    std::string activityType_;
    std::shared_ptr<const URL> webpageURL_;
};
