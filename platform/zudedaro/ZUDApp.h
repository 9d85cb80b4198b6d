#pragma once
// The outside core library's default app. Configuring it reads the application's service plist,
// makes the default app with its options, configuration and component container, and starts the
// analytics library, which the core library finds by class name ("VUZArezivodo") in the class
// registry rather than linking it. Libraries register their components before that, at load.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/RuntimeObject.h"
#include "platform/zudedaro/ZUDAnalyticsConfiguration.h"
#include "platform/zudedaro/ZUDComponent.h"
#include "platform/zudedaro/ZUDComponentContainer.h"
#include "platform/zudedaro/ZUDOptions.h"

// The class object the analytics library registers under "VUZArezivodo": the entry through which
// the core library starts it.
class ZUDAnalyticsStartEntry : public RuntimeObject {
  public:
    static constexpr const char* kClassName = "VUZArezivodo";
    static constexpr std::string_view kSelector = "startWithConfiguration:options:";

    virtual void startWithConfiguration(std::shared_ptr<ZUDAnalyticsConfiguration> configuration,
                                        const ZUDOptions& options) const = 0;

    std::string className() const override { return kClassName; }
    bool respondsToSelector(std::string_view selector) const override { return selector == kSelector; }
    // Starting needs arguments, so it is never performed by name.
    Value perform(std::string_view) const override { return {}; }
};

class ZUDApp {
  public:
    static constexpr const char* kServiceInfoPlist = "ZizodaService-Info";
    static constexpr const char* kAppIDKey = "ZIZODA_APP_ID";

    // Configures the default app from "ZizodaService-Info.plist" among the main bundle's resources.
    // Without the file or its app ID, a clear error is logged and nothing is configured. Once the
    // default app exists, a further call only logs that it changes nothing.
    static void configure();
    static void configureWithOptions(const ZUDOptions& options);
    static bool isDefaultAppConfigured();
    // Nullptr until configured.
    static std::shared_ptr<ZUDApp> defaultApp();

    // A library's components join the container of the default app configured after this call.
    static void registerInternalLibrary(std::shared_ptr<const ZUDLibrary> library, const std::string& name,
                                        const std::string& version);
    // "name/version" of every library registered, in the order they registered.
    static std::vector<std::string> registeredLibraries();

    const ZUDOptions& options() const { return options_; }
    const std::shared_ptr<ZUDAnalyticsConfiguration>& analyticsConfiguration() const {
        return configuration_;
    }
    ZUDComponentContainer& container() { return container_; }

    ZUDApp(ZUDOptions options,
           const std::vector<std::shared_ptr<ZUDComponent>>& components);  // use configure

  private:
    const ZUDOptions options_;
    const std::shared_ptr<ZUDAnalyticsConfiguration> configuration_;
    ZUDComponentContainer container_;
};
